// The job's state file, the RC a restart starts with, the job's outcome and its table.
#include "x5ctl/job/job_state.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "core/rc_rules.h"
#include "x5ctl/host/job_files.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::job {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "x5ctl job state 1";
// A state holds a few hundred bytes per step; anything near this is not one.
constexpr size_t kStateMaxBytes = 4 << 20;

constexpr std::pair<Stage, const char*> kStageNames[] = {
    {Stage::kWaiting, "waiting"},
    {Stage::kRunning, "running"},
    {Stage::kDone, "done"},
    {Stage::kNotRun, "not run"},
};

const char* StageName(Stage stage) {
  for (const auto& [s, name] : kStageNames) {
    if (s == stage)
      return name;
  }
  return "?";
}

std::string StepName(const StepRecord& step) {
  return "step " + std::to_string(step.number) +
         (step.name.empty() ? std::string() : " (" + text::VisibleText(step.name) + ")");
}

template <class T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json();
}

Json StepJson(const StepRecord& s) {
  Json j;
  j["step"] = s.number;
  j["name"] = text::Utf8FromAnsi(s.name);
  j["fingerprint"] = s.fingerprint;
  j["run"] = text::Utf8FromAnsi(s.run);
  j["stage"] = StageName(s.stage);
  j["maximum_rc"] = s.maximum_rc;
  j["rc_in"] = OrNull(s.rc_in);
  j["status_text"] = s.status_text ? Json(text::Utf8FromAnsi(*s.status_text)) : Json();
  j["result_flag"] =
      s.status_text ? Json(text::Utf8FromAnsi(std::string(1, s.result_flag))) : Json();
  j["current_rc"] = OrNull(s.current_rc);
  j["step_exit_code"] = OrNull(s.step_exit_code);
  j["rc_out"] = OrNull(s.rc_out);
  j["exit_status"] = OrNull(s.exit_status);
  j["meaning"] = text::Utf8FromAnsi(s.meaning);
  j["goes_on"] = s.goes_on;
  j["started"] = text::Utf8FromAnsi(s.started);
  j["seconds"] = OrNull(s.seconds);
  j["host"] = text::Utf8FromAnsi(s.host);
  j["process_id"] = s.process_id;
  j["slurm_job"] = text::Utf8FromAnsi(s.slurm_job);
  return j;
}

// Reading a state: every member checked, so that a damaged or foreign file is refused, not
// half-read. json's own exceptions (a member of the wrong type) are caught by the caller.
class StateReader {
 public:
  explicit StateReader(const Json& object) : object_(object) {}

  const Json& Member(const char* name) const {
    if (!object_.is_object() || !object_.contains(name))
      throw std::runtime_error(std::string("no member \"") + name + "\"");
    return object_.at(name);
  }
  // A member of type T, checked before it is converted: json's own conversion of a number that
  // does not fit (or a float taken for an integer) is undefined.
  template <class T>
  T Get(const char* name) const {
    const Json& member = Member(name);
    bool fits = false;
    if constexpr (std::is_same_v<T, bool>) {
      fits = member.is_boolean();
    } else if constexpr (std::is_same_v<T, std::string>) {
      fits = member.is_string();
    } else if constexpr (std::is_floating_point_v<T>) {
      fits = member.is_number();
    } else if (member.is_number_unsigned()) {
      fits = member.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<T>::max());
    } else if (member.is_number_integer()) {
      const int64_t value = member.get<int64_t>();
      fits = value >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
             (value < 0 ||
              static_cast<uint64_t>(value) <= static_cast<uint64_t>(std::numeric_limits<T>::max()));
    }
    if (!fits)
      throw std::runtime_error(std::string("member \"") + name + "\" is not what it should be");
    return member.get<T>();
  }
  template <class T>
  std::optional<T> Maybe(const char* name) const {
    if (Member(name).is_null())
      return std::nullopt;
    return Get<T>(name);
  }
  // A text member back to the bytes it was written from.
  std::string Bytes(const char* name) const {
    core::Result<std::string> bytes = text::AnsiFromUtf8(Get<std::string>(name));
    if (!bytes)
      throw std::runtime_error(std::string("member \"") + name + "\": " + bytes.failure().text);
    return std::move(*bytes);
  }

 private:
  const Json& object_;
};

StepRecord ReadStep(const Json& object) {
  const StateReader r(object);
  StepRecord s;
  s.number = r.Get<int>("step");
  s.name = r.Bytes("name");
  s.fingerprint = r.Get<std::string>("fingerprint");
  s.run = r.Bytes("run");
  const std::string stage = r.Get<std::string>("stage");
  const auto* found = std::find_if(std::begin(kStageNames), std::end(kStageNames),
                                   [&](const auto& pair) { return stage == pair.second; });
  if (found == std::end(kStageNames))
    throw std::runtime_error("unknown stage \"" + stage + "\"");
  s.stage = found->first;
  s.maximum_rc = r.Get<int32_t>("maximum_rc");
  s.rc_in = r.Maybe<int32_t>("rc_in");
  if (!r.Member("status_text").is_null()) {
    s.status_text = r.Bytes("status_text");
    const std::string flag = r.Bytes("result_flag");
    if (flag.size() != 1)
      throw std::runtime_error("a result flag is one character");
    s.result_flag = flag[0];
  }
  s.current_rc = r.Maybe<int32_t>("current_rc");
  s.step_exit_code = r.Maybe<uint32_t>("step_exit_code");
  s.rc_out = r.Maybe<int32_t>("rc_out");
  s.exit_status = r.Maybe<int>("exit_status");
  s.meaning = r.Bytes("meaning");
  s.goes_on = r.Get<bool>("goes_on");
  s.started = r.Bytes("started");
  s.seconds = r.Maybe<double>("seconds");
  s.host = r.Bytes("host");
  s.process_id = r.Get<int64_t>("process_id");
  s.slurm_job = r.Bytes("slurm_job");
  return s;
}

std::string Duration(const std::optional<double>& seconds) {
  if (!seconds)
    return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", *seconds);
  return text;
}

// The outcome column: the exit status and what it means in a word or two.
std::string OutcomeCell(const StepRecord& s) {
  switch (s.stage) {
    case Stage::kWaiting:
      return s.slurm_job.empty() ? "waiting"
                                 : "waiting (Slurm job " + text::VisibleText(s.slurm_job) + ")";
    case Stage::kRunning:
      return "running on " + text::VisibleText(s.host) + " since " + text::VisibleText(s.started);
    case Stage::kNotRun:
      return s.meaning.empty() ? "not run" : "not run: " + text::VisibleText(s.meaning);
    case Stage::kDone:
      break;
  }
  const int status = s.exit_status.value_or(-1);
  std::string word;
  if (status == step::kExecSucceeded)
    word = "ran";
  else if (status >= 1 && status <= step::kExecHighestRc)
    word = s.result_flag == '-' ? "abended" : "failed";
  else if (status == step::kExecEnded)
    word = "ended as requested";
  else if (status == step::kExecSkipped)
    word = "skipped";
  else if (status == step::kExecNoCommand)
    word = "no command";
  else if (status == step::kExecNotStarted)
    word = "not started";
  else if (status == step::kExecTimedOut)
    word = "timed out";
  else if (status == step::kExecBrokeOff)
    word = "broke off";
  else if (status > step::kExecSignalBase)
    word = "stopped by signal " + std::to_string(status - step::kExecSignalBase);
  return std::to_string(status) + " " + word;
}

}  // namespace

std::string NewRunName() {
  std::string name =
      text::UtcNow() + " " + host::HostName() + " " + std::to_string(host::ProcessId());
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

std::string StateText(const JobState& state) {
  Json j;
  j["format"] = kFormat;
  j["run"] = text::Utf8FromAnsi(state.run);
  j["how"] = text::Utf8FromAnsi(state.how);
  j["first"] = state.first;
  j["last"] = state.last;
  Json steps = Json::array();
  for (const StepRecord& s : state.steps)
    steps.push_back(StepJson(s));
  j["steps"] = std::move(steps);
  return j.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

core::Result<JobState> ParseStateText(std::string_view text, const std::string& source) {
  const auto refused = [&](const std::string& why) {
    return core::Failure{source + ": not a job state this x5ctl can read (" + why + ")"};
  };
  try {
    // No state nests deeper than its steps' members; a deeper file is not one.
    const Json j = Json::parse(
        text, [](int depth, Json::parse_event_t, Json&) { return depth <= 4; }, true);
    const StateReader r(j);
    if (r.Get<std::string>("format") != kFormat)
      return refused("its format is not \"" + std::string(kFormat) + "\"");
    JobState state;
    state.run = r.Bytes("run");
    state.how = r.Bytes("how");
    state.first = r.Get<int>("first");
    state.last = r.Get<int>("last");
    const Json& steps = r.Member("steps");
    if (!steps.is_array())
      return refused("\"steps\" is not a list");
    for (const Json& step : steps) {
      state.steps.push_back(ReadStep(step));
      if (state.steps.back().number != static_cast<int>(state.steps.size()))
        return refused("its steps are not numbered in order");
    }
    return state;
  } catch (const Json::parse_error& e) {
    // Its own words would quote the file's bytes, which may be anybody's.
    return refused("not JSON: it stops making sense at byte " + std::to_string(e.byte));
  } catch (const std::exception& e) {
    return refused(text::VisibleText(e.what()));
  }
}

core::Result<std::optional<JobState>> ReadState(const Job& job) {
  core::Result<std::optional<std::string>> text =
      host::ReadRegularFile(job.StatePath(), kStateMaxBytes);
  if (!text)
    return std::move(text).failure();
  if (!*text)
    return std::optional<JobState>();
  core::Result<JobState> state = ParseStateText(**text, job.StatePath().string());
  if (!state)
    return std::move(state).failure();
  return std::optional<JobState>(std::move(*state));
}

core::Result<void> WriteState(const Job& job, const JobState& state) {
  return host::ReplaceWholeFile(job.StatePath(), StateText(state));
}

core::Result<int32_t> RcAt(const Job& job, const std::optional<JobState>& state, int step) {
  const int steps = static_cast<int>(job.steps.size());
  const std::string at = job.path + ": cannot start at step " + std::to_string(step) + ": ";
  if (step < 1 || step > steps)
    return core::Failure{at + "the job has steps 1 to " + std::to_string(steps)};
  if (step == 1)
    return job.task_rc;
  for (int k = 1; k < step; ++k) {
    const JobStep& now = job.steps[static_cast<size_t>(k - 1)];
    const StepRecord* ran = state && k <= static_cast<int>(state->steps.size())
                                ? &state->steps[static_cast<size_t>(k - 1)]
                                : nullptr;
    const std::string which =
        "step " + std::to_string(k) + " (" + text::VisibleText(now.name) + ")";
    const std::string start_there = "; start at step " + std::to_string(k) + " or before";
    if (ran == nullptr || ran->stage != Stage::kDone)
      return core::Failure{at + which + " has not run" + start_there};
    if (ran->fingerprint != now.fingerprint)
      return core::Failure{at + which +
                           " has changed since it ran, so the RC the steps after it left no longer "
                           "follows from the job" +
                           start_there};
    if (k == step - 1 && !ran->rc_out)
      return core::Failure{at + which + " left no RC (" + text::VisibleText(ran->meaning) + ")" +
                           start_there};
  }
  return *state->steps[static_cast<size_t>(step - 2)].rc_out;
}

JobState StartRun(const Job& job,
                  const std::optional<JobState>& old,
                  int first,
                  int last,
                  const std::string& run,
                  const std::string& how) {
  JobState state;
  state.run = run;
  state.how = how;
  state.first = first;
  state.last = last;
  for (const JobStep& step : job.steps) {
    const bool in_run = step.number >= first && step.number <= last;
    if (!in_run && old && step.number <= static_cast<int>(old->steps.size())) {
      state.steps.push_back(old->steps[static_cast<size_t>(step.number - 1)]);
      continue;
    }
    StepRecord record;
    record.number = step.number;
    record.name = step.name;
    record.fingerprint = step.fingerprint;
    record.maximum_rc = step.task.task.maximum_rc;
    record.run = in_run ? run : std::string();
    record.stage = in_run ? Stage::kWaiting : Stage::kNotRun;
    state.steps.push_back(std::move(record));
  }
  return state;
}

const StepRecord* StoppedBefore(const JobState& state, int step) {
  if (step <= state.first || step - 1 > static_cast<int>(state.steps.size()))
    return nullptr;
  const StepRecord& before = state.steps[static_cast<size_t>(step - 2)];
  if (before.run == state.run && before.stage == Stage::kDone && before.goes_on)
    return nullptr;
  return &before;
}

std::optional<step::ExecOutcome> JobOutcome(const JobState& state) {
  const StepRecord* last = nullptr;
  const StepRecord* decisive = nullptr;
  for (const StepRecord& s : state.steps) {
    if (s.stage == Stage::kWaiting || s.stage == Stage::kRunning)
      return std::nullopt;
    if ((s.stage == Stage::kDone && !s.goes_on) || (s.stage == Stage::kNotRun && s.exit_status)) {
      return step::ExecOutcome{s.exit_status.value_or(step::kExecBrokeOff),
                               "the job stopped at " + StepName(s) + ": " + s.meaning};
    }
    if (s.stage != Stage::kDone)
      continue;
    last = &s;
    if (s.exit_status != step::kExecSkipped && s.exit_status != step::kExecNoCommand)
      decisive = &s;
  }
  if (last == nullptr)
    return std::nullopt;
  if (decisive == nullptr)
    decisive = last;
  // Whether a step after the last would run in abend mode, by the return-code rules themselves.
  core::RcState rc;
  rc.maximum_rc = last->maximum_rc;
  rc.task_rc = last->current_rc.value_or(0);
  (void)core::SetupAbendMode(rc);  // its warning text is the runner's, not needed here
  const int status = decisive->exit_status.value_or(step::kExecBrokeOff);
  if (rc.abend_mode && (status < 1 || status > step::kExecHighestRc)) {
    const int clamped = std::clamp<int32_t>(rc.task_rc, 1, step::kExecHighestRc);
    return step::ExecOutcome{clamped,
                             "the job abended: its RC at the end, " + std::to_string(rc.task_rc) +
                                 ", is above the maximum RC " + std::to_string(rc.maximum_rc)};
  }
  return step::ExecOutcome{status,
                           "the job ended with " + StepName(*decisive) + ": " + decisive->meaning};
}

std::string FormatTable(const JobState& state) {
  std::vector<std::vector<std::string>> rows{
      {"step", "name", "status", "RC", "flag", "exit code", "duration", "outcome"}};
  for (const StepRecord& s : state.steps) {
    const bool reported = s.status_text.has_value();
    rows.push_back({
        std::to_string(s.number),
        text::VisibleText(s.name),
        reported ? text::QuotedText(*s.status_text) : "-",
        s.current_rc ? std::to_string(*s.current_rc) : "-",
        reported ? text::VisibleText(std::string(1, s.result_flag)) : "-",
        s.step_exit_code ? std::to_string(*s.step_exit_code) : "-",
        Duration(s.seconds),
        OutcomeCell(s),
    });
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line = " ";
    for (size_t i = 0; i < row.size(); ++i) {
      // Numbers to the right, texts to the left; the last column is not padded.
      const bool number = i == 0 || i == 3 || i == 5 || i == 6;
      const std::string pad(widths[i] - row[i].size(), ' ');
      if (i + 1 == row.size())
        line += " " + row[i];
      else
        line += " " + (number ? pad + row[i] : row[i] + pad);
    }
    table += line + "\n";
  }
  return table;
}

std::string ChangedSteps(const Job& job, const JobState& state) {
  std::string changed;
  for (const StepRecord& s : state.steps) {
    if (s.stage != Stage::kDone || s.number > static_cast<int>(job.steps.size()))
      continue;
    if (job.steps[static_cast<size_t>(s.number - 1)].fingerprint != s.fingerprint)
      changed += (changed.empty() ? "" : ", ") + std::to_string(s.number);
  }
  return changed;
}

std::string JobJson(const Job& job, const JobState& state) {
  Json j;
  j["record"] = "job";
  j["job_file"] = job.path;
  j["run"] = text::Utf8FromAnsi(state.run);
  j["how"] = text::Utf8FromAnsi(state.how);
  const std::optional<step::ExecOutcome> outcome = JobOutcome(state);
  j["exit_status"] = outcome ? Json(outcome->status) : Json();
  j["meaning"] =
      outcome ? Json(text::Utf8FromAnsi(outcome->meaning)) : Json("the job has not ended");
  Json steps = Json::array();
  for (const StepRecord& s : state.steps)
    steps.push_back(StepJson(s));
  j["steps"] = std::move(steps);
  return text::JsonLine(j);
}

}  // namespace x5::ctl::job
