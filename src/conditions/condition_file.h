// The files that condition rules look at: lookup of an ordinary file's facts, opening in the rule's
// mode, and buffered reads at explicit positions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace x5::conditions {

// Reads a file in chunks at given offsets (forward or backward searches).
class ChunkReader {
 public:
  virtual ~ChunkReader() = default;
  virtual core::Result<int64_t> Size() const = 0;
  // Reads up to into.size() bytes at offset; the bytes read (0 past the end).
  virtual core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) = 0;
};

// Called before every chunk a file condition reads, with the chunk's byte count. Answers false
// when the chunk must not be read (the operator killed the check).
class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual bool Poll(int64_t chunk_bytes) = 0;
};

}  // namespace x5::conditions

namespace x5::conditions {

// Size and attributes of an ordinary file.
struct FileFacts {
  int64_t size = 0;
  bool archive = false;
  bool read_only = false;
  bool system = false;
  bool hidden = false;
};

// Where rule files come from: the file system in the runner, memory in tests.
class RuleFiles {
 public:
  virtual ~RuleFiles() = default;
  // The facts of the ordinary file of that name; nullopt when it is missing, a directory, hidden or
  // a system file, when the name is a wildcard pattern, or when its facts cannot be read.
  virtual std::optional<FileFacts> Find(std::string_view name) = 0;
  // Opens the file for reading raw bytes. With `exclusive` the open fails while anyone else has the
  // file open, and nobody else can open it meanwhile. A failure carries the system's code.
  virtual core::Result<std::unique_ptr<ChunkReader>> Open(std::string_view name,
                                                          bool exclusive) = 0;
};

// One open rule file with its read buffers. Offsets are 0-based here; rule positions are 1-based.
class ConditionFile {
 public:
  ConditionFile() = default;
  explicit ConditionFile(std::unique_ptr<ChunkReader> reader) noexcept;
  ConditionFile(ConditionFile&&) noexcept = default;
  ConditionFile& operator=(ConditionFile&&) noexcept = default;

  bool IsOpen() const noexcept { return reader_ != nullptr; }
  void Close() noexcept;

  // The file's current length; nullopt when it cannot be read.
  std::optional<int64_t> Size() const noexcept;

  // Bytes [offset, offset + length) for a search block: from the block buffer when it holds them,
  // else read into it. Empty when they cannot all be read.
  [[nodiscard]] std::span<const uint8_t> Block(int64_t offset, int64_t length) noexcept;
  // What the block buffer already holds from `offset` on (at most max_length bytes), or ending at
  // `end` (at most max_length bytes); empty when the position is not buffered.
  std::span<const uint8_t> BufferedFrom(int64_t offset, int64_t max_length) const noexcept;
  std::span<const uint8_t> BufferedUpTo(int64_t end, int64_t max_length) const noexcept;
  // A small read (a column, a value field, a line count) that leaves the block buffer alone.
  [[nodiscard]] std::span<const uint8_t> Peek(int64_t offset, int64_t length) noexcept;

 private:
  bool ReadExact(int64_t offset, uint8_t* into, int64_t length) noexcept;

  std::unique_ptr<ChunkReader> reader_;
  struct AlignedFree {
    void operator()(uint8_t* p) const noexcept;
  };
  // The block buffer is page aligned and each block is placed at the same offset within a page as
  // it has in the file, so the system's copy from its cache runs on co-aligned addresses.
  std::unique_ptr<uint8_t, AlignedFree> storage_;
  int64_t storage_capacity_ = 0;
  const uint8_t* block_ = nullptr;  // file byte block_offset_, inside storage_
  int64_t block_offset_ = 0;
  int64_t block_length_ = 0;
  std::vector<uint8_t> peek_;
  int64_t peek_offset_ = 0;
};

// Opens `name` for a rule into `file`. Mode 'R' or 'O': shared read; 'W': exclusive read. Fails
// with the system's error code when the open fails; any other mode fails with `file` closed.
core::Result<void> OpenConditionFile(RuleFiles& files,
                                     char mode,
                                     std::string_view name,
                                     ConditionFile& file) noexcept;

}  // namespace x5::conditions
