// Record layouts, block reading and text writing against the byte-exact protocol.
#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace x5::protocol {
namespace {

// Delivers scripted reads: each entry is what one Read call returns (a chunk, or an error code).
class ScriptedReader : public ByteReader {
 public:
  explicit ScriptedReader(std::string data, size_t piece = SIZE_MAX)
      : data_(std::move(data)), piece_(piece) {}
  int64_t Read(std::span<uint8_t> into) override {
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
  int64_t Write(std::span<const uint8_t> bytes) override {
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
  TaskBytes b = EncodeTaskRecord(t);
  EXPECT_EQ(b[4], 0xFF);
  EXPECT_EQ(b[20], 120);
  EXPECT_EQ(b[36], 23);
  EXPECT_EQ(std::string(b.begin() + 40, b.begin() + 46), "alice ");
  EXPECT_EQ(b[79], ' ');
  EXPECT_EQ(std::string(b.begin() + 160, b.begin() + 167), "PAYROLL");
  EXPECT_EQ(b[224] | b[225] << 8, 10000);
  EXPECT_EQ(b[232], 7);
  EXPECT_EQ(b[236], 'C');
  EXPECT_EQ(b[1004], 'S');
  EXPECT_EQ(b[1036], 4);
  EXPECT_EQ(b[1043], 0xFF);
  EXPECT_EQ(b[1066], 1);
  EXPECT_EQ(b[1084], 6);

  // Decoding reads every field from where encoding put it.
  EXPECT_EQ(EncodeTaskRecord(DecodeTaskRecord(b)), b);
  EXPECT_EQ(DecodeTaskRecord(b).user_name, Padded("alice", 40));
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
  r.phase = 4;
  r.report_text_length = 300;
  auto b = EncodeStepReport(r);
  EXPECT_EQ(b[0], 0x08);
  EXPECT_EQ(b[7], 0x01);
  EXPECT_EQ(b[40] | b[41] << 8 | b[42] << 16, 120000);
  EXPECT_EQ(std::string(b.begin() + 48, b.begin() + 56), "STEP OK ");
  EXPECT_EQ(b[56] | b[57] << 8, 258);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 60, b.begin() + 68),
            (std::vector<uint8_t>{0x05, 0x00, 0x00, 0xC0, 0, 0, 0, 0}));
  EXPECT_EQ(b[68], 0xFB);
  EXPECT_EQ(b[72], 'S');
  EXPECT_EQ(b[73], 1);
  EXPECT_EQ(b[74], 4);
  EXPECT_EQ(b[75], 0);
  EXPECT_EQ(b[76] | b[77] << 8, 300);
  StepReport d = DecodeStepReport(b);
  EXPECT_EQ(d.current_rc, -5);
  EXPECT_EQ(d.step_exit_code, r.step_exit_code);
  EXPECT_EQ(d.start_time, r.start_time);
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
}

TEST(TextBlock, LeadingControlCharacterOfVariablesBecomesDelimiter) {
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
  EXPECT_EQ(WriteText(out, text), 9000);
  EXPECT_EQ(out.writes, (std::vector<size_t>{4096, 4096, 808}));
  EXPECT_EQ(out.data, text);
}

}  // namespace
}  // namespace x5::protocol
