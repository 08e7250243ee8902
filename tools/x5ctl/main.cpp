// x5ctl: the parent side of the runner protocol, for users and tests.
int main() { return 0; }
