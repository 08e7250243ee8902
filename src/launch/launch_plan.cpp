// What a launch will do, decided from the task record and the OS version code alone.
#include "launch/launch_plan.h"

#include "launch/user_hive.h"

namespace x5::launch {

LaunchPlan PlanLaunch(const protocol::TaskRecord& task,
                      core::OsLevel os_level,
                      std::string_view job_name) {
  LaunchPlan plan;
  plan.user = protocol::Trimmed(task.user_name);
  const std::string domain = protocol::Trimmed(task.domain);
  // Systems below 4 have no logon for a step; an empty domain asks for none.
  const bool logon = !domain.empty() && os_level >= core::OsLevel::kFour;
  if (logon && plan.user.empty()) {
    plan.logon = LogonChoice::kRefused;
  } else if (logon) {
    plan.logon = LogonChoice::kLogOn;
    plan.logon_domain = IsLocalDomainForm(domain) ? std::string() : domain;
    plan.hive_account = HiveAccount(plan.user, domain);
    plan.enciphered_password = task.password;
  }

  StartupValues& startup = plan.startup;
  startup.title = task.user_name;
  // -1 in a window field means "the system's choice": the flag stays off, whatever its pair holds.
  if (task.window_left >= 0) {
    startup.x = static_cast<uint32_t>(task.window_left);
    startup.y = static_cast<uint32_t>(task.window_top);
    startup.flags |= kStartUsePosition;
  }
  if (task.window_width >= 0) {
    startup.width = static_cast<uint32_t>(task.window_width);
    startup.height = static_cast<uint32_t>(task.window_height);
    startup.flags |= kStartUseSize;
  }
  if (task.console_columns >= 0) {
    startup.columns = static_cast<uint32_t>(task.console_columns);
    startup.rows = static_cast<uint32_t>(task.console_rows);
    startup.flags |= kStartUseCountChars;
  }
  startup.console_handles = os_level >= core::OsLevel::kFour;

  plan.working_directory = protocol::Trimmed(task.working_directory);
  // A step never runs outside a job: without one it could neither be ended as a tree nor be sure
  // to end with the runner. The runner runs only on systems that have jobs, whatever OS version
  // code the parent sends.
  plan.job = true;
  plan.job_name = job_name;
  plan.environment = logon ? EnvironmentRule::kUserBlock : EnvironmentRule::kRunnerEnvironment;
  // Suspended until it is in the job, so nothing the step starts escapes the job.
  plan.creation_flags =
      kCreateUnicodeEnvironment | kCreateNewProcessGroup | kNormalPriorityClass | kCreateSuspended;
  plan.redirection_off = os_level == core::OsLevel::kSixtyFour;
  plan.wait_for_idle = os_level >= core::OsLevel::kFive;
  if (os_level == core::OsLevel::kSixtyFour && logon)
    plan.pause_before_idle = kPauseBeforeIdleMs;
  return plan;
}

}  // namespace x5::launch
