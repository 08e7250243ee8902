// The handle owners' contracts: each kind's empty value, and a release that keeps the last error.
#include "win/unique_handle.h"

#include <gtest/gtest.h>

namespace x5::win {
namespace {

constexpr DWORD kCallersError = ERROR_ACCESS_DENIED;

// An owner's release runs on error paths: the error the caller is about to read must survive it,
// even a release that fails itself and sets an error of its own (here: of a handle closed behind
// the owner's back).
template <typename Owner>
void ExpectReleaseKeepsTheLastError(typename Owner::Handle closed) {
  Owner owner(closed);
  SetLastError(kCallersError);
  owner.reset();
  EXPECT_EQ(GetLastError(), kCallersError);
}

// What a create call of each kind gives on failure reads as no handle.
TEST(HandleOwners, EmptyValueIsTheOnePerKind) {
  WIN32_FIND_DATAA found{};
  EXPECT_FALSE(ScopedFindHandle(FindFirstFileA("C:\\no\\such\\*", &found)));
  EXPECT_FALSE(ScopedFileHandle(
      CreateFileA("C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
  EXPECT_FALSE(ScopedHandle(OpenEventA(SYNCHRONIZE, FALSE, "x5-no-such-event")));
}

TEST(HandleOwners, FailedReleaseKeepsTheCallersError) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(event);
  ExpectReleaseKeepsTheLastError<ScopedHandle>(event);
  HANDLE file = CreateFileA("x5-owner.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  CloseHandle(file);
  ExpectReleaseKeepsTheLastError<ScopedFileHandle>(file);
  WIN32_FIND_DATAA found{};
  HANDLE find = FindFirstFileA("C:\\windows\\*", &found);
  FindClose(find);
  ExpectReleaseKeepsTheLastError<ScopedFindHandle>(find);
}

}  // namespace
}  // namespace x5::win
