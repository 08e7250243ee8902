// Records arrive whole from a pipe that delivers one write of the parent in pieces.
#include "runner/pipe_win.h"

#include <gtest/gtest.h>

#include <thread>

#include "win/unique_handle.h"

namespace x5::runner {
namespace {

TEST(ParentPipe, RecordWrittenInThreePiecesIsReadWhole) {
  for (const bool writer_stays : {true, false}) {
    win::ScopedHandle read_end;
    win::ScopedHandle write_end;
    ASSERT_TRUE(CreatePipe(read_end.put(), write_end.put(), nullptr, 0));
    protocol::TaskBytes sent{};
    for (size_t i = 0; i < sent.size(); ++i)
      sent[i] = static_cast<uint8_t>(i * 7);
    // Three pieces with pauses, so each read finds only part of the record; without the last
    // piece the pipe ends instead.
    std::thread writer([&] {
      const size_t cuts[] = {0, 8, 600, sent.size()};
      for (int i = 0; i < (writer_stays ? 3 : 2); ++i) {
        DWORD put = 0;
        WriteFile(write_end.get(), sent.data() + cuts[i], static_cast<DWORD>(cuts[i + 1] - cuts[i]),
                  &put, nullptr);
        Sleep(30);
      }
      write_end.reset();
    });
    PipeReader in(read_end.get());
    protocol::TaskBytes got{};
    const int64_t read = *protocol::ReadFull(in, got);
    writer.join();
    if (writer_stays) {
      EXPECT_EQ(read, static_cast<int64_t>(sent.size()));
      EXPECT_EQ(got, sent);
    } else {
      EXPECT_EQ(read, 600) << "the end of the pipe is the end of the record, not an error";
    }
  }
}

}  // namespace
}  // namespace x5::runner
