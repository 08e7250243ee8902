// The step's job: a kill-on-close job even when its name cannot be had, and a created step that
// cannot join it is ended rather than left to run outside it.
#include "launch/step_job_win.h"

#include <gtest/gtest.h>

namespace x5::launch {
namespace {

// This test program itself, created suspended: it never runs a line. Its process and thread.
std::pair<win::ScopedHandle, win::ScopedHandle> SuspendedChild() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(self, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &info))
    return {};
  return {win::ScopedHandle(info.hProcess), win::ScopedHandle(info.hThread)};
}

bool EndedWithin(HANDLE process, DWORD ms) {
  return WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
}

TEST(StepJob, NameHeldByAnotherKindOfObjectStillGivesAKillOnCloseJob) {
  const win::ScopedHandle squatter(CreateEventA(nullptr, TRUE, FALSE, "x5test/JOB.7.1"));
  ASSERT_TRUE(squatter);
  core::Result<win::ScopedHandle> made = CreateStepJob("x5test/JOB.7.1");
  ASSERT_TRUE(made);
  auto [process, thread] = SuspendedChild();
  ASSERT_TRUE(process);
  ASSERT_TRUE(AssignProcessToJobObject(made->get(), process.get()));
  EXPECT_FALSE(EndedWithin(process.get(), 0));
  made->reset();  // as when the runner ends, however it ends
  EXPECT_TRUE(EndedWithin(process.get(), 5000));
}

TEST(StepJob, FailedAssignmentEndsTheCreatedProcess) {
  auto [process, thread] = SuspendedChild();
  ASSERT_TRUE(process);
  win::ScopedHandle watched;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), process.get(), GetCurrentProcess(),
                              watched.put(), SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, 0));
  {
    SuspendedStep step(std::move(process), std::move(thread));
    // An event is no job: the assignment fails.
    const win::ScopedHandle not_a_job(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(step.JoinJob(not_a_job.get()));
  }
  ASSERT_TRUE(EndedWithin(watched.get(), 0));
  DWORD exit_code = 0;
  EXPECT_TRUE(GetExitCodeProcess(watched.get(), &exit_code));
  EXPECT_EQ(exit_code, 1u);
}

}  // namespace
}  // namespace x5::launch
