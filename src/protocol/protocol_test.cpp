// Record layouts, block reading and text writing against the byte-exact protocol.
#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace x5::protocol {
namespace {

// Delivers scripted reads: each entry is what one Read call returns (a chunk, or an error code).
class ScriptedReader : public ByteReader {
 public:
  explicit ScriptedReader(std::string data, size_t piece = SIZE_MAX)
      : data_(std::move(data)), piece_(piece) {}
  core::Result<int64_t> Read(std::span<uint8_t> into) override {
    requests.push_back(into.size());
    size_t n = std::min({into.size(), data_.size() - pos_, piece_});
    std::copy_n(data_.data() + pos_, n, into.data());
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  std::vector<size_t> requests;
  size_t pos_ = 0;

 private:
  std::string data_;
  size_t piece_;
};

class CollectingWriter : public ByteWriter {
 public:
  core::Result<int64_t> Write(std::span<const uint8_t> bytes) override {
    writes.push_back(bytes.size());
    data.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return static_cast<int64_t>(bytes.size());
  }
  std::vector<size_t> writes;
  std::string data;
};

TEST(TaskRecord, FieldsLandAtTheirOffsets) {
  TaskRecord t;
  t.window_left = -1;
  t.console_columns = 120;
  t.priority = 23;
  t.user_name = "alice";
  t.job_name = "PAYROLL";
  t.command_length = 10000;
  t.variables_length = 7;
  t.working_directory = "C:\\work";
  t.step_directory = "S01";
  t.maximum_rc = 4;
  t.task_rc = -3;
  t.file_buffer_size = 65536;
  t.picture_interval = -1;
  t.os_version = 6;
  const TaskBytes b = EncodeTaskRecord(t);
  const std::pair<size_t, uint8_t> bytes[] = {
      {4, 0xFF},  {20, 120},   {36, 23},   {40, 'a'},    {44, 'e'},   {45, ' '},
      {79, ' '},  {160, 'P'},  {166, 'L'}, {224, 0x10},  {225, 0x27}, {232, 7},
      {236, 'C'}, {1004, 'S'}, {1036, 4},  {1043, 0xFF}, {1066, 1},   {1084, 6}};
  for (const auto& [at, value] : bytes)
    EXPECT_EQ(b[at], value) << at;
  // Decoding reads every field from where encoding put it.
  EXPECT_EQ(EncodeTaskRecord(DecodeTaskRecord(b)), b);
  EXPECT_EQ(DecodeTaskRecord(b).user_name, Padded("alice", 40));
}

// Only the exact request in the reserved field asks for the extensions; a parent that leaves the
// field blank, zero or as its memory held it does not.
TEST(TaskRecord, OnlyTheExactRequestAsksForExtensions) {
  TaskRecord asking;
  asking.asks_extensions = true;
  const TaskBytes request = EncodeTaskRecord(asking);
  EXPECT_TRUE(DecodeTaskRecord(request).asks_extensions);
  EXPECT_EQ(std::string(request.begin() + kExtensionRequestOffset,
                        request.begin() + kExtensionRequestOffset + kExtensionRequestWidth),
            kExtensionRequest);
  const std::string near_misses[] = {std::string(kExtensionRequestWidth, ' '),
                                     std::string(kExtensionRequestWidth, '\0'),
                                     std::string(kExtensionRequestWidth, '\xff'),
                                     Padded("X5CTL/EXTENSIONS/1", kExtensionRequestWidth)};
  for (const std::string& field : near_misses) {
    TaskBytes bytes = request;
    std::copy(field.begin(), field.end(), bytes.begin() + kExtensionRequestOffset);
    EXPECT_FALSE(DecodeTaskRecord(bytes).asks_extensions) << field;
  }
  for (size_t at = 0; at < kExtensionRequestWidth; ++at) {
    TaskBytes bytes = request;
    bytes[kExtensionRequestOffset + at] ^= 0x20;
    EXPECT_FALSE(DecodeTaskRecord(bytes).asks_extensions) << at;
  }
}

TEST(StepReport, LayoutIsExact) {
  StepReport r;
  r.start_time = 0x0102030405060708;
  r.io_count = 12 * 10000;
  r.status_text = "STEP OK ";
  r.status_code = 258;
  r.step_exit_code = -1073741819;  // 0xC0000005
  r.current_rc = -5;
  r.result_flag = 'S';
  r.phase = Phase::kWaitingForEnd;
  r.report_text_length = 300;
  const auto b = EncodeStepReport(r);
  // 120000 = 0x01D4C0, 258 = 0x0102, 300 = 0x012C; the exit code takes eight bytes.
  const std::pair<size_t, uint8_t> bytes[] = {
      {0, 0x08},  {7, 0x01},  {40, 0xC0}, {41, 0xD4}, {42, 0x01}, {48, 'S'}, {55, ' '},
      {56, 0x02}, {57, 0x01}, {60, 0x05}, {63, 0xC0}, {64, 0},    {67, 0},   {68, 0xFB},
      {72, 'S'},  {73, 1},    {74, 4},    {75, 0},    {76, 0x2C}, {77, 1}};
  for (const auto& [at, value] : bytes)
    EXPECT_EQ(b[at], value) << at;
  EXPECT_EQ(EncodeStepReport(DecodeStepReport(b)), b);
}

TEST(TextBlock, ReadIn4096PiecesAndCompletedNeverPastTheBlock) {
  char delim = ';';
  ScriptedReader in(std::string(10000, 'a') + "STAT");
  EXPECT_EQ(ReadTextBlock(in, 10000, false, delim).result, 10000);
  EXPECT_EQ(in.requests, (std::vector<size_t>{4096, 4096, 1808}));
  EXPECT_EQ(in.pos_, 10000u);  // the command after the block stays in the pipe
  ScriptedReader piecemeal(std::string(5000, 'b') + "STAT", 700);
  EXPECT_EQ(ReadTextBlock(piecemeal, 5000, false, delim).text, std::string(5000, 'b'));
  EXPECT_EQ(piecemeal.pos_, 5000u);
  const struct {
    std::string block;
    char delimiter;
    std::string text;
  } cases[] = {
      {"\x01SET A=1\x01SET B=2", '\x01', "SET A=1\x01SET B=2"},
      {"\x1f", '\x1f', ""},
      {" SET A=1", ';', " SET A=1"},  // a blank is no control character
  };
  for (const auto& c : cases) {
    ScriptedReader in(c.block);
    char delim = ';';
    EXPECT_EQ(ReadTextBlock(in, static_cast<int32_t>(c.block.size()), true, delim).text, c.text);
    EXPECT_EQ(delim, c.delimiter) << c.block;
  }
}

TEST(TextBlock, NegativeOrHugeDeclaredLengthsAreSafe) {
  char delim = ';';
  ScriptedReader empty("abc");
  EXPECT_EQ(ReadTextBlock(empty, -5, false, delim).text, "");
  EXPECT_TRUE(empty.requests.empty());
  // A declared length far beyond what arrives: keep what came, allocate nothing up front.
  ScriptedReader shortpipe("hello");
  BlockResult r = ReadTextBlock(shortpipe, 0x7fffffff, false, delim);
  EXPECT_EQ(r.text, "hello");
}

TEST(WriteText, SplitsIntoPiecesOfAtMost4096) {
  CollectingWriter out;
  std::string text(9000, 'x');
  EXPECT_EQ(*WriteText(out, text), 9000);
  EXPECT_EQ(out.writes, (std::vector<size_t>{4096, 4096, 808}));
  EXPECT_EQ(out.data, text);
}

}  // namespace
}  // namespace x5::protocol
