// Task record and text blocks as the parent's pipe delivers them, in pieces of any size.
#include <algorithm>

#include "protocol/protocol.h"
#include "protocol/task_values.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

namespace {

class PieceReader : public x5::protocol::ByteReader {
 public:
  PieceReader(const uint8_t* data, size_t size, size_t piece)
      : data_(data), size_(size), piece_(piece == 0 ? 1 : piece) {}
  x5::core::Result<int64_t> Read(std::span<uint8_t> into) override {
    size_t n = std::min({into.size(), size_ - pos_, piece_});
    std::copy_n(data_ + pos_, n, into.data());
    pos_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const size_t piece = data[0] % 64 + 1;
  PieceReader in(data + 1, size - 1, piece * 97);
  x5::protocol::TaskBytes bytes{};
  (void)x5::protocol::ReadFull(in, bytes);
  x5::protocol::TaskRecord task = x5::protocol::DecodeTaskRecord(bytes);
  (void)x5::protocol::NormaliseFileCheckLimits(task);
  (void)x5::protocol::BuildConsoleTitle(task);
  char delimiter = ';';
  x5::protocol::BlockResult command =
      x5::protocol::ReadTextBlock(in, task.command_length, false, delimiter);
  x5::protocol::BlockResult conditions =
      x5::protocol::ReadTextBlock(in, task.conditions_length, false, delimiter);
  (void)x5::protocol::ReadTextBlock(in, task.variables_length, true, delimiter);
  // A block never holds more than was declared, and nothing is counted that was not taken.
  Check(task.command_length < 0 || command.text.size() <= static_cast<size_t>(task.command_length));
  Check(command.result == static_cast<int64_t>(command.text.size()) &&
        conditions.result == static_cast<int64_t>(conditions.text.size()));
  x5::protocol::TaskBytes again = x5::protocol::EncodeTaskRecord(task);
  Check(x5::protocol::DecodeTaskRecord(again).maximum_rc == task.maximum_rc);
  return 0;
}
