// In-memory rule files, a recording pacer and a literal chunk-by-chunk reference search: the test,
// fuzzing and benchmark side of the file seams.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conditions/case_map.h"
#include "conditions/condition_file.h"
#include "conditions/file_search.h"

namespace x5::conditions::testing {

// A file held in memory. Reads can be cut short (at most max_per_read bytes) or fail from a given
// offset on, to exercise the callers' loops and failure paths.
class MemoryReader final : public ChunkReader {
 public:
  explicit MemoryReader(std::shared_ptr<const std::string> data) : data_(std::move(data)) {}

  core::Result<int64_t> Size() const override {
    ++size_calls;
    return static_cast<int64_t>(data_->size());
  }

  core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) override {
    ++reads;
    if (fail_from >= 0 && offset + static_cast<int64_t>(into.size()) > fail_from)
      return core::Failure{"read failed", 5};
    const auto size = static_cast<int64_t>(data_->size());
    if (offset < 0 || offset > size)
      return core::Failure{"offset outside the file", 22};
    int64_t n = std::min<int64_t>(static_cast<int64_t>(into.size()), size - offset);
    if (max_per_read > 0)
      n = std::min(n, max_per_read);
    if (n > 0)
      std::memcpy(into.data(), data_->data() + offset, static_cast<size_t>(n));
    bytes_read += n;
    return n;
  }

  int64_t fail_from = -1;
  int64_t max_per_read = 0;
  int64_t reads = 0;
  int64_t bytes_read = 0;
  mutable int size_calls = 0;

 private:
  std::shared_ptr<const std::string> data_;
};

// A file of any size whose bytes are made up on the fly: `fill` everywhere, `text` at `text_at`.
class PatternReader final : public ChunkReader {
 public:
  PatternReader(int64_t size, char fill, std::string text, int64_t text_at)
      : size_(size), fill_(fill), text_(std::move(text)), text_at_(text_at) {}

  core::Result<int64_t> Size() const override { return size_; }

  core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) override {
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(into.size()), size_ - offset);
    if (n < 0)
      return core::Failure{"offset outside the file", 22};
    std::memset(into.data(), fill_, static_cast<size_t>(n));
    const int64_t a = std::max(offset, text_at_);
    const int64_t b = std::min(offset + n, text_at_ + static_cast<int64_t>(text_.size()));
    for (int64_t i = a; i < b; ++i)
      into[static_cast<size_t>(i - offset)] =
          static_cast<uint8_t>(text_[static_cast<size_t>(i - text_at_)]);
    bytes_read += n;
    return n;
  }

  int64_t bytes_read = 0;

 private:
  int64_t size_;
  char fill_;
  std::string text_;
  int64_t text_at_;
};

struct MemoryFile {
  std::shared_ptr<const std::string> data;
  FileFacts facts;
  bool findable = true;     // false: as a hidden, system or missing file
  bool open_fails = false;  // e.g. someone else has it open (mode W)
  int64_t fail_from = -1;   // reads touching this offset or later fail
};

class MemoryRuleFiles final : public RuleFiles {
 public:
  void Add(const std::string& name, std::string content) {
    MemoryFile f;
    f.facts.size = static_cast<int64_t>(content.size());
    f.facts.archive = true;
    f.data = std::make_shared<const std::string>(std::move(content));
    files[name] = std::move(f);
  }

  std::optional<FileFacts> Find(std::string_view name) override {
    auto it = files.find(std::string(name));
    if (it == files.end() || !it->second.findable)
      return std::nullopt;
    return it->second.facts;
  }

  core::Result<std::unique_ptr<ChunkReader>> Open(std::string_view name, bool exclusive) override {
    auto it = files.find(std::string(name));
    if (it == files.end() || it->second.open_fails)
      return core::Failure{"cannot open", exclusive ? 32u : 2u};
    ++opens;
    auto reader = std::make_unique<MemoryReader>(it->second.data);
    reader->fail_from = it->second.fail_from;
    return std::unique_ptr<ChunkReader>(std::move(reader));
  }

  std::map<std::string, MemoryFile> files;
  int opens = 0;
};

// Records every chunk byte count; answers stop at the chunk with index stop_at (0-based).
class RecordingPacer final : public Pacer {
 public:
  bool Poll(int64_t chunk_bytes) override {
    chunks.push_back(chunk_bytes);
    return stop_at < 0 || static_cast<int64_t>(chunks.size()) <= stop_at;
  }
  std::vector<int64_t> chunks;
  int64_t stop_at = -1;
};

// Chunks of the buffer size; only for a text longer than the buffer, which would never move on in
// such chunks, the searches' own longer chunk.
inline int64_t ReferenceChunkLength(int64_t buffer_size, int64_t text_length) {
  return text_length <= buffer_size ? buffer_size : ChunkLengthFor(buffer_size, text_length);
}

// The searches read one chunk at a time, exactly as the chunk rules describe them: a reference for
// differential tests of the block-reading searches.

inline int64_t ReferenceSearchForward(const std::string& data,
                                      std::string_view text,
                                      bool fold,
                                      const CaseMap& map,
                                      int64_t buffer_size,
                                      int64_t start,
                                      int64_t end_limit,
                                      Pacer& pacer) {
  const auto length = static_cast<int64_t>(text.size());
  if (length == 0)
    return kRangeUnusable;
  int64_t last = static_cast<int64_t>(data.size());
  if (end_limit != 0 && end_limit < last)
    last = end_limit;
  if (start < 1 || start > last || last < 1 || last - start + 1 < length)
    return kRangeUnusable;
  const int64_t chunk = ReferenceChunkLength(buffer_size, length);
  const std::string needle = fold ? ToUpper(text, map) : std::string(text);
  int64_t read_position = start;
  int64_t chunk_length = chunk;
  bool final_chunk = false;
  if (start + chunk - 1 > last) {
    chunk_length = last - start + 1;
    final_chunk = true;
  }
  for (;;) {
    if (!pacer.Poll(chunk_length))
      return kSearchKilled;
    std::string bytes =
        data.substr(static_cast<size_t>(read_position - 1), static_cast<size_t>(chunk_length));
    if (fold)
      bytes = ToUpper(bytes, map);
    const size_t at = bytes.find(needle);
    if (at != std::string::npos)
      return read_position + static_cast<int64_t>(at);
    if (final_chunk)
      return kNotFound;
    read_position = read_position + chunk_length - length + 1;
    if (read_position - 1 + chunk > last) {
      chunk_length = last - read_position + 1;
      final_chunk = true;
    }
  }
}

inline int64_t ReferenceSearchBackward(const std::string& data,
                                       std::string_view text,
                                       bool fold,
                                       const CaseMap& map,
                                       int64_t buffer_size,
                                       int64_t& start,
                                       int64_t low_limit,
                                       Pacer& pacer) {
  const auto length = static_cast<int64_t>(text.size());
  const auto size = static_cast<int64_t>(data.size());
  if (start == -1)
    start = size;
  if (length == 0)
    return kRangeUnusable;
  const int64_t top = std::min(start, size);
  const int64_t low = low_limit >= 2 ? low_limit : 1;
  if (top < 1 || low > top || top - low + 1 < length)
    return kRangeUnusable;
  const int64_t chunk = ReferenceChunkLength(buffer_size, length);
  const std::string needle = fold ? ToUpper(text, map) : std::string(text);
  int64_t read_position = top - chunk + 1;
  int64_t chunk_length = chunk;
  bool final_chunk = false;
  if (top - chunk < low) {
    read_position = low;
    chunk_length = top - low + 1;
    final_chunk = true;
  }
  for (;;) {
    if (!pacer.Poll(chunk_length))
      return kSearchKilled;
    std::string bytes =
        data.substr(static_cast<size_t>(read_position - 1), static_cast<size_t>(chunk_length));
    if (fold)
      bytes = ToUpper(bytes, map);
    const size_t at = bytes.rfind(needle);
    if (at != std::string::npos)
      return read_position + static_cast<int64_t>(at);
    if (final_chunk)
      return kNotFound;
    const int64_t next = read_position - chunk_length + length - 1;
    if (next > low) {
      read_position = next;
      chunk_length = chunk;
    } else {
      chunk_length = chunk + next - low;
      read_position = low;
      final_chunk = true;
    }
  }
}

// ColumnOf as a plain look back over the data.
inline int64_t ReferenceColumnOf(const std::string& data, int64_t position, int64_t line_limit) {
  if (position < 1 || position - 1 > static_cast<int64_t>(data.size()))
    return 0;
  const int64_t limit = line_limit > 0 ? line_limit : 256;
  const int64_t from = std::max<int64_t>(1, position - limit);
  for (int64_t q = position - 1; q >= from; --q) {
    if (data[static_cast<size_t>(q - 1)] == '\n')
      return position - q;
  }
  return from == 1 ? position : 0;
}

// FindOccurrence as separate reference searches from each hit, each with its own chunks.
inline int64_t ReferenceFindOccurrence(const std::string& data,
                                       const OccurrenceQuery& query,
                                       const CaseMap& map,
                                       int64_t buffer_size,
                                       Pacer& pacer) {
  int64_t counted = 0;
  int64_t position = query.start != 0 ? query.start : (query.forward ? 1 : -1);
  for (;;) {
    int64_t hit;
    if (query.forward) {
      const int64_t end_limit = query.quantity > 0 ? position + query.quantity : 0;
      hit = ReferenceSearchForward(data, query.text, query.case_folding, map, buffer_size, position,
                                   end_limit, pacer);
    } else {
      const int64_t low_limit = query.quantity > 0 ? position - query.quantity - 1 : 0;
      hit = ReferenceSearchBackward(data, query.text, query.case_folding, map, buffer_size,
                                    position, low_limit, pacer);
    }
    if (hit < 1)
      return hit;
    if (query.column <= 0 || ReferenceColumnOf(data, hit, query.line_limit) == query.column) {
      if (++counted >= query.count)
        return hit;
    }
    position = query.forward ? hit + 1 : hit - 1;
  }
}

}  // namespace x5::conditions::testing
