// Opening rule files and reading them through a block buffer and a small side buffer.
#include "conditions/condition_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/fault.h"

namespace x5::conditions {

namespace {
constexpr int64_t kPageBytes = 4096;
}  // namespace

void ConditionFile::AlignedFree::operator()(uint8_t* p) const noexcept {
  ::operator delete[](p, std::align_val_t{kPageBytes});
}

ConditionFile::ConditionFile(std::unique_ptr<ChunkReader> reader) noexcept
    : reader_(std::move(reader)) {}

void ConditionFile::Close() noexcept {
  reader_.reset();
  storage_.reset();
  storage_capacity_ = 0;
  block_ = nullptr;
  block_length_ = 0;
  peek_.clear();
}

std::optional<int64_t> ConditionFile::Size() const noexcept {
  if (!reader_)
    return std::nullopt;
  const core::Result<int64_t> size = reader_->Size();
  return size ? std::optional<int64_t>(*size) : std::nullopt;
}

bool ConditionFile::ReadExact(int64_t offset, uint8_t* into, int64_t length) noexcept {
  if (!reader_ || offset < 0 || length < 0)
    return false;
  // A reader may deliver less than asked (a network file, a huge request); loop until complete.
  while (length > 0) {
    const core::Result<int64_t> read =
        reader_->ReadAt(offset, std::span<uint8_t>(into, static_cast<size_t>(length)));
    if (!read)
      return false;
    const int64_t got = *read;
    if (got <= 0 || got > length)
      return false;
    offset += got;
    into += got;
    length -= got;
  }
  return true;
}

std::span<const uint8_t> ConditionFile::Block(int64_t offset, int64_t length) noexcept {
  if (offset < 0 || length < 0)
    return {};
  if (offset >= block_offset_ && offset + length <= block_offset_ + block_length_)
    return {block_ + (offset - block_offset_), static_cast<size_t>(length)};
  const int64_t skew = offset % kPageBytes;
  if (skew + length > storage_capacity_) {
    storage_.reset();
    storage_capacity_ = 0;
    block_ = nullptr;
    block_length_ = 0;
    // Room for any skew, so later blocks of this size need no new buffer.
    const int64_t capacity = length + kPageBytes;
    storage_.reset(static_cast<uint8_t*>(::operator new[](
        static_cast<size_t>(capacity), std::align_val_t{kPageBytes}, std::nothrow)));
    if (!storage_)
      return {};
    storage_capacity_ = capacity;
  }
  uint8_t* into = storage_.get() + skew;
  block_ = into;
  block_offset_ = offset;
  block_length_ = 0;
  if (!ReadExact(offset, into, length))
    return {};
  block_length_ = length;
  return {block_, static_cast<size_t>(length)};
}

std::span<const uint8_t> ConditionFile::BufferedFrom(int64_t offset,
                                                     int64_t max_length) const noexcept {
  const int64_t end = block_offset_ + block_length_;
  if (offset < block_offset_ || offset >= end || max_length <= 0)
    return {};
  const int64_t n = std::min(max_length, end - offset);
  return {block_ + (offset - block_offset_), static_cast<size_t>(n)};
}

std::span<const uint8_t> ConditionFile::BufferedUpTo(int64_t end,
                                                     int64_t max_length) const noexcept {
  const int64_t block_end = block_offset_ + block_length_;
  if (end <= block_offset_ || end > block_end || max_length <= 0)
    return {};
  const int64_t n = std::min(max_length, end - block_offset_);
  return {block_ + (end - n - block_offset_), static_cast<size_t>(n)};
}

std::span<const uint8_t> ConditionFile::Peek(int64_t offset, int64_t length) noexcept {
  if (offset < 0 || length < 0)
    return {};
  if (offset >= block_offset_ && offset + length <= block_offset_ + block_length_)
    return {block_ + (offset - block_offset_), static_cast<size_t>(length)};
  const auto peek_length = static_cast<int64_t>(peek_.size());
  if (offset >= peek_offset_ && offset + length <= peek_offset_ + peek_length)
    return {peek_.data() + (offset - peek_offset_), static_cast<size_t>(length)};
  try {
    peek_.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    peek_.clear();
    return {};
  } catch (const std::length_error&) {
    peek_.clear();
    return {};
  }
  peek_offset_ = offset;
  if (!ReadExact(offset, peek_.data(), length)) {
    peek_.clear();
    return {};
  }
  return {peek_.data(), static_cast<size_t>(length)};
}

core::Result<void> OpenConditionFile(RuleFiles& files,
                                     char mode,
                                     std::string_view name,
                                     ConditionFile& file) noexcept {
  file.Close();
  try {
    if (mode != 'R' && mode != 'O' && mode != 'W')
      return core::Failure{"no such open mode"};
    core::Result<std::unique_ptr<ChunkReader>> reader = files.Open(name, mode == 'W');
    if (!reader)
      return std::move(reader).failure();
    file = ConditionFile(std::move(*reader));
    return {};
  } catch (...) {
    return core::Failure{std::string(core::UnexpectedFault("OpenConditionFile"))};
  }
}

}  // namespace x5::conditions
