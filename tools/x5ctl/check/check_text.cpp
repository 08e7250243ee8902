// The readable form of `x5ctl check`: its records (the same as --json prints) as indented text.
#include "x5ctl/check/check_text.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::check {
namespace {

using text::CrLfLines;

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

std::string Visible(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string S(const Json& j) {
  return Visible(j.get<std::string>());
}

std::string Quoted(const Json& j) {
  return "\"" + S(j) + "\"";
}

void WriteLine(std::ostream& out, const char* indent, const Json& w) {
  out << indent << "would write the " << S(w["what"]) << " " << S(w["path"]);
  if (w["bytes"] != 0)
    out << " (" << w["bytes"] << " bytes)";
  if (!w["local"].is_null())
    out << " = " << S(w["local"]);
  out << ": "
      << (w["would_fail"] ? "the runner's write would fail, " + S(w["problem"])
                          : std::string("not written by the check"))
      << "\n";
}

void FileLines(std::ostream& out, const Json& files) {
  for (const Json& f : files) {
    out << "    file " << S(f["path"]);
    if (!f["local"].is_null())
      out << " = " << S(f["local"])
          << (f["as_written"] ? " (as the switches above left it, kept in memory)"
              : f["found"]    ? ""
                              : " (not found)");
    else
      out << ": not found here, " << S(f["problem"]);
    out << "\n";
  }
}

void Block(std::ostream& out, const char* indent, const char* mark, const Json& lines) {
  for (const Json& line : lines)
    out << indent << mark << S(line) << "\n";
}

void TextBlock(std::ostream& out, const char* indent, const char* mark, const std::string& utf8) {
  const std::vector<std::string> lines = CrLfLines(utf8, false);
  for (const std::string& line : lines)
    out << indent << mark << Visible(line) << "\n";
}

// Where the readable report goes, and which of its headings have been written.
struct Text {
  explicit Text(std::ostream& o) : out(o) {}
  std::ostream& out;
  bool variables = false;
  bool rules_before = false;
  bool rules_after = false;
  bool commands = false;
  bool notes = false;
  std::string task_line;  // the task's variables waiting to fill a line
};

void Head(const Json& r, Text& t) {
  t.out << "Checking " << fs::path(r["task"].get<std::string>()).filename().string()
        << ": the runner's own code on this task; nothing is run and nothing is written.\n";
  for (const Json& d : r["drives"])
    t.out << "Drive " << S(d["drive"]) << " is the folder " << S(d["folder"]) << "\n";
  if (r.contains("current_directory"))
    t.out << "The runner's current directory is " << S(r["current_directory"]) << "\n";
}

void Task(const Json& r, Text& t) {
  t.out << "\nTask: job " << S(r["job_name"]) << ", job number " << r["job_number"] << ", step "
        << r["step_number"] << " (folder " << S(r["step_directory"]) << "), user "
        << S(r["user_name"]) << "\n";
  t.out << "  maximum RC " << r["maximum_rc"] << ", task RC " << r["task_rc"]
        << ", the step runs at RC " << r["step_minimum_rc"] << " to " << r["step_maximum_rc"]
        << "\n";
  if (r["abend_mode"])
    t.out << "  abend mode: the task RC is above the maximum RC, so the step RC value starts "
             "at 1 and the step's range is tested against the task RC\n";
}

void Variable(const Json& r, Text& t) {
  if (!t.variables) {
    t.out << "\nVariables, in the order the runner defines them (%NAME% takes the first of a "
             "name):\n";
    t.task_line.clear();
  }
  t.variables = true;
  const std::string entry = S(r["name"]) + "=" + S(r["value"]);
  if (r["source"] == "task") {
    // The ten variables of the task record, several to a line.
    if (!t.task_line.empty() && t.task_line.size() + entry.size() + 2 > 98) {
      t.out << "  " << t.task_line << "\n";
      t.task_line.clear();
    }
    t.task_line += (t.task_line.empty() ? "" : "  ") + entry;
    return;
  }
  if (!t.task_line.empty()) {
    t.out << "  " << t.task_line << "  (task)\n";
    t.task_line.clear();
  }
  std::string padded = "  " + entry;
  if (padded.size() < 32)
    padded.resize(32, ' ');
  t.out << padded << "  " << S(r["source"]);
  if (r["shadowed"])
    t.out << " (not used for %" << S(r["name"]) << "%: an earlier definition wins)";
  t.out << "\n";
}

void Console(const Json& r, Text& t) {
  Block(t.out, "  ", "console| ", r["lines"]);
}

void Write(const Json& r, Text& t) {
  WriteLine(t.out, "  ", r);
}

void Rules(const Json& r, Text& t) {
  t.out << "\nRules, with variables expanded:\n";
  const std::vector<std::string> lines = CrLfLines(r["text"].get<std::string>(), false);
  for (size_t i = 0; i < lines.size(); ++i)
    t.out << "  " << (i + 1 < 10 ? " " : "") << i + 1 << " | " << Visible(lines[i]) << "\n";
}

void Rule(const Json& r, Text& t) {
  const bool after = r["pass"] == "after";
  if (!after && !t.rules_before) {
    t.out << "\nBefore the step:\n";
    t.rules_before = true;
  }
  if (after && !t.rules_after) {
    t.out << "\nAfter the step:\n";
    t.rules_after = true;
  }
  t.out << "  line " << r["line"] << ": " << S(r["text"]) << "\n";
  const bool unchecked = r["outcome"] == "unchecked";
  // An unchecked rule is shown as it came out here, with a line that says why that is unsure.
  const std::string outcome = unchecked ? r["outcome_here"] : r["outcome"];
  for (const Json& warning : r.value("warnings", Json::array()))
    t.out << "    warning: " << S(warning) << "\n";
  if (outcome == "rejected") {
    TextBlock(t.out, "    ", "report | ", r["output"]);
    const Json& at = r["rejected_at"];
    t.out << "    the line is rejected at column " << at["column"] << ", " << Quoted(at["word"])
          << (at.contains("why") ? ": " + S(at["why"]) : std::string())
          << "; it is not evaluated and changes nothing\n";
    return;
  }
  if (outcome == "ended") {
    t.out << "    the line ends in " << Quoted(r["ended_at"])
          << ", a \"=\" as its last character: the runner stops reading it there, so it is "
             "not evaluated and says nothing\n";
    return;
  }
  if (r["reverse"])
    t.out << "    reverse rule: it fires when the file is as it describes\n";
  FileLines(t.out, r["files"]);
  if (!r["search_text"].get<std::string>().empty())
    t.out << "    searches " << Quoted(r["search_text"]) << " " << S(r["search"])
          << (r["search_kept"] ? " (kept from an earlier line: S= holds until set again)" : "")
          << "\n";
  if (r.contains("value_length")) {
    t.out << "    compares the " << r["value_length"] << " byte(s) at offset " << r["value_offset"]
          << " after the found text"
          << (r["value_offset_kept"] ? " (offset kept from an earlier line: V= without an "
                                       "offset keeps the last one)"
                                     : "")
          << "\n";
    if (r.contains("value")) {
      const Json& v = r["value"];
      t.out << "    the field reads " << Quoted(v["field"])
            << (v.contains("number") ? ", the number " + v["number"].dump() : std::string())
            << "\n";
      for (const Json& c : v["comparisons"])
        t.out << "      " << S(c["operator"]) << " " << S(c["value"]) << ": "
              << (c["as"] == "none" ? std::string("not compared")
                                    : "compared as " + c["as"].get<std::string>())
              << ", " << S(c["why"]) << "\n";
    }
  }
  Block(t.out, "    ", "console| ", r["console"]);
  TextBlock(t.out, "    ", "report | ", r["output"]);
  if (outcome == "fired") {
    t.out << "    fires with RC " << r["rc"] << ": the step RC value "
          << (r["step_rc_before"] == r["step_rc_after"]
                  ? "stays "
                  : "goes from " + r["step_rc_before"].dump() + " to ")
          << r["step_rc_after"]
          << (r["step_rc_before"] == r["step_rc_after"] ? " (RC values only raise it, or set 0)"
                                                        : "")
          << "\n";
  } else if (outcome == "passed") {
    t.out << "    passes: the file is as the rule describes\n";
  } else {
    t.out << "    does not fire: the file is not as the rule describes\n";
    if (r.contains("finding"))
      t.out << "      reason: " << S(r["finding"]) << "\n";
  }
  if (unchecked)
    t.out << "    unchecked: no --drive mapping reaches its file, so whether it fires on the "
             "real machine is not known (here it counts as missing)\n";
  for (const Json& v : r["variables"])
    t.out << "    defines " << S(v) << "\n";
  for (const Json& w : r["writes"])
    WriteLine(t.out, "    ", w);
}

void CommandLine(const Json& r, Text& t) {
  if (!t.commands) {
    t.out << "\nCommand, line by line:\n";
    t.commands = true;
  }
  t.out << "  line " << r["line"] << ": " << S(r["text"]) << "\n";
  if (r["expanded"] != r["text"])
    t.out << "    expanded: " << S(r["expanded"]) << "\n";
  if (!r["program_token"].get<std::string>().empty())
    t.out << "    program " << Quoted(r["program_token"]) << ", parameters "
          << Quoted(r["parameters"]) << "\n";
  else if (r["switch_tail"].get<std::string>().empty())
    t.out << "    nothing to run\n";
  if (!r["switch_tail"].get<std::string>().empty())
    t.out << "    switch " << Quoted(r["switch_tail"]) << "\n";
  Block(t.out, "    ", "console| ", r["console"]);
  FileLines(t.out, r["files"]);
  for (const Json& v : r["variables"])
    t.out << "    defines " << S(v) << "\n";
  for (const Json& w : r["writes"])
    WriteLine(t.out, "    ", w);
}

void Command(const Json& r, Text& t) {
  t.out << "\nCommand line: " << S(r["command_line"]) << "\n";
}

void Remark(const Json& r, Text& t) {
  t.out << "\n" << S(r["text"]) << "\n";
}

void JobLog(const Json& r, Text& t) {
  t.out << "\nJob log: " << S(r["line"]) << "\n";
}

void Decision(const Json& r, Text& t) {
  t.out << "\nReturn-code rules " << (r["stage"] == "after" ? "after" : "before")
        << " the step: step RC value " << r["step_rc_value"] << ", current RC " << r["current_rc"]
        << ", result flag " << Quoted(r["result_flag"]) << ": " << S(r["verdict"]) << "\n";
}

void ReportText(const Json& r, Text& t) {
  if (!r["text"].get<std::string>().empty()) {
    t.out << "\nReport text the parent gets:\n";
    TextBlock(t.out, "  ", "| ", r["text"]);
  }
}

void Note(const Json& r, Text& t) {
  if (!t.notes)
    t.out << "\nWhat the real machine may do differently:\n";
  t.notes = true;
  t.out << "  " << S(r["topic"]) << ": " << S(r["text"]) << "\n";
}

void Outcome(const Json& r, Text& t) {
  if (r.contains("warnings")) {
    t.out << "\n";
    for (const Json& warning : r["warnings"])
      t.out << "Warning: " << S(warning) << "\n";
  }
  if (r.contains("unchecked")) {
    t.out << "\nUnchecked: no --drive mapping reaches the file of rule ";
    std::string list;
    for (const Json& line : r["unchecked"])
      list += (list.empty() ? "" : ", ") + S(line);
    t.out << list << "; map its drive with --drive to check it. What the rest says:";
  }
  t.out << "\nOutcome: " << S(r["verdict"]);
  if (!r["status_text"].get<std::string>().empty())
    t.out << ", status " << Quoted(r["status_text"]);
  t.out << "; current RC " << r["current_rc"] << ", result flag " << Quoted(r["result_flag"])
        << " (exit status " << r["exit_status"] << ")\n";
}

// One writer a kind of record, in the order the check emits them.
constexpr struct {
  std::string_view kind;
  void (*write)(const Json& r, Text& t);
} kWriters[] = {
    {"check", Head},
    {"task", Task},
    {"variable", Variable},
    {"console", Console},
    {"write", Write},
    {"rules", Rules},
    {"rule", Rule},
    {"command_line", CommandLine},
    {"command", Command},
    {"remark", Remark},
    {"job_log", JobLog},
    {"decision", Decision},
    {"report_text", ReportText},
    {"note", Note},
    {"outcome", Outcome},
};
}  // namespace

void WriteCheckText(const std::vector<nlohmann::ordered_json>& records, std::ostream& out) {
  Text t(out);
  for (const Json& r : records) {
    const std::string kind = r["record"];
    if (kind != "variable")
      t.variables = false;
    for (const auto& writer : kWriters)
      if (writer.kind == kind)
        writer.write(r, t);
  }
}

}  // namespace x5::ctl::check
