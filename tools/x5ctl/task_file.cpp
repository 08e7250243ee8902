// Reads a readable TOML task file into a task record and its text blocks.
