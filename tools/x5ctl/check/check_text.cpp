// The readable form of `x5ctl check`: its records (the same as --json prints) as indented text.
#include "x5ctl/check/check_text.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

namespace x5::ctl::check {
namespace {

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

}  // namespace

void WriteCheckText(const std::vector<nlohmann::ordered_json>& records, std::ostream& out) {
  bool variables = false;
  bool rules_before = false;
  bool rules_after = false;
  bool commands = false;
  bool notes = false;
  std::string task_line;
  for (const Json& r : records) {
    const std::string kind = r["record"];
    if (kind != "variable" && variables)
      variables = false;
    if (kind == "check") {
      out << "Checking " << fs::path(r["task"].get<std::string>()).filename().string()
          << ": the runner's own code on this task; nothing is run and nothing is written.\n";
      for (const Json& d : r["drives"])
        out << "Drive " << S(d["drive"]) << " is the folder " << S(d["folder"]) << "\n";
      if (r.contains("current_directory"))
        out << "The runner's current directory is " << S(r["current_directory"]) << "\n";
    } else if (kind == "task") {
      out << "\nTask: job " << S(r["job_name"]) << ", job number " << r["job_number"] << ", step "
          << r["step_number"] << " (folder " << S(r["step_directory"]) << "), user "
          << S(r["user_name"]) << "\n";
      out << "  maximum RC " << r["maximum_rc"] << ", task RC " << r["task_rc"]
          << ", the step runs at RC " << r["step_minimum_rc"] << " to " << r["step_maximum_rc"]
          << "\n";
      if (r["abend_mode"])
        out << "  abend mode: the task RC is above the maximum RC, so the step RC value starts "
               "at 1 and the step's range is tested against the task RC\n";
    } else if (kind == "variable") {
      if (!variables) {
        out << "\nVariables, in the order the runner defines them (%NAME% takes the first of a "
               "name):\n";
        task_line.clear();
      }
      variables = true;
      const std::string entry = S(r["name"]) + "=" + S(r["value"]);
      if (r["source"] == "task") {
        // The ten variables of the task record, several to a line.
        if (!task_line.empty() && task_line.size() + entry.size() + 2 > 98) {
          out << "  " << task_line << "\n";
          task_line.clear();
        }
        task_line += (task_line.empty() ? "" : "  ") + entry;
        continue;
      }
      if (!task_line.empty()) {
        out << "  " << task_line << "  (task)\n";
        task_line.clear();
      }
      std::string padded = "  " + entry;
      if (padded.size() < 32)
        padded.resize(32, ' ');
      out << padded << "  " << S(r["source"]);
      if (r["shadowed"])
        out << " (not used for %" << S(r["name"]) << "%: an earlier definition wins)";
      out << "\n";
    } else if (kind == "console") {
      Block(out, "  ", "console| ", r["lines"]);
    } else if (kind == "write") {
      WriteLine(out, "  ", r);
    } else if (kind == "rules") {
      out << "\nRules, with variables expanded:\n";
      const std::vector<std::string> lines = CrLfLines(r["text"].get<std::string>(), false);
      for (size_t i = 0; i < lines.size(); ++i)
        out << "  " << (i + 1 < 10 ? " " : "") << i + 1 << " | " << Visible(lines[i]) << "\n";
    } else if (kind == "rule") {
      const bool after = r["pass"] == "after";
      if (!after && !rules_before) {
        out << "\nBefore the step:\n";
        rules_before = true;
      }
      if (after && !rules_after) {
        out << "\nAfter the step:\n";
        rules_after = true;
      }
      out << "  line " << r["line"] << ": " << S(r["text"]) << "\n";
      const bool unchecked = r["outcome"] == "unchecked";
      // An unchecked rule is shown as it came out here, with a line that says why that is unsure.
      const std::string outcome = unchecked ? r["outcome_here"] : r["outcome"];
      if (outcome == "rejected") {
        TextBlock(out, "    ", "report | ", r["output"]);
        out << "    the line is rejected: it is not evaluated and changes nothing\n";
        continue;
      }
      if (outcome == "ended") {
        out << "    the line ends in " << Quoted(r["ended_at"])
            << ", a \"=\" as its last character: the runner stops reading it there, so it is "
               "not evaluated and says nothing\n";
        continue;
      }
      if (r["reverse"])
        out << "    reverse rule: it fires when the file is as it describes\n";
      FileLines(out, r["files"]);
      if (!r["search_text"].get<std::string>().empty())
        out << "    searches " << Quoted(r["search_text"]) << " " << S(r["search"])
            << (r["search_kept"] ? " (kept from an earlier line: S= holds until set again)" : "")
            << "\n";
      if (r.contains("value_length")) {
        out << "    compares the " << r["value_length"] << " byte(s) at offset "
            << r["value_offset"] << " after the found text"
            << (r["value_offset_kept"] ? " (offset kept from an earlier line: V= without an "
                                         "offset keeps the last one)"
                                       : "")
            << "\n";
        if (r.contains("value")) {
          const Json& v = r["value"];
          out << "    the field reads " << Quoted(v["field"])
              << (v.contains("number") ? ", the number " + v["number"].dump() : std::string())
              << "\n";
          for (const Json& c : v["comparisons"])
            out << "      " << S(c["operator"]) << " " << S(c["value"]) << ": "
                << (c["as"] == "none" ? std::string("not compared")
                                      : "compared as " + c["as"].get<std::string>())
                << ", " << S(c["why"]) << "\n";
        }
      }
      Block(out, "    ", "console| ", r["console"]);
      TextBlock(out, "    ", "report | ", r["output"]);
      if (outcome == "fired") {
        out << "    fires with RC " << r["rc"] << ": the step RC value "
            << (r["step_rc_before"] == r["step_rc_after"]
                    ? "stays "
                    : "goes from " + r["step_rc_before"].dump() + " to ")
            << r["step_rc_after"]
            << (r["step_rc_before"] == r["step_rc_after"] ? " (RC values only raise it, or set 0)"
                                                          : "")
            << "\n";
      } else if (outcome == "passed") {
        out << "    passes: the file is as the rule describes\n";
      } else {
        out << "    does not fire: the file is not as the rule describes\n";
        if (r.contains("finding"))
          out << "      reason: " << S(r["finding"]) << "\n";
      }
      if (unchecked)
        out << "    unchecked: no --drive mapping reaches its file, so whether it fires on the "
               "real machine is not known (here it counts as missing)\n";
      for (const Json& v : r["variables"])
        out << "    defines " << S(v) << "\n";
      for (const Json& w : r["writes"])
        WriteLine(out, "    ", w);
    } else if (kind == "command_line") {
      if (!commands) {
        out << "\nCommand, line by line:\n";
        commands = true;
      }
      out << "  line " << r["line"] << ": " << S(r["text"]) << "\n";
      if (r["expanded"] != r["text"])
        out << "    expanded: " << S(r["expanded"]) << "\n";
      if (!r["program_token"].get<std::string>().empty())
        out << "    program " << Quoted(r["program_token"]) << ", parameters "
            << Quoted(r["parameters"]) << "\n";
      else if (r["switch_tail"].get<std::string>().empty())
        out << "    nothing to run\n";
      if (!r["switch_tail"].get<std::string>().empty())
        out << "    switch " << Quoted(r["switch_tail"]) << "\n";
      Block(out, "    ", "console| ", r["console"]);
      FileLines(out, r["files"]);
      for (const Json& v : r["variables"])
        out << "    defines " << S(v) << "\n";
      for (const Json& w : r["writes"])
        WriteLine(out, "    ", w);
    } else if (kind == "command") {
      out << "\nCommand line: " << S(r["command_line"]) << "\n";
    } else if (kind == "remark") {
      out << "\n" << S(r["text"]) << "\n";
    } else if (kind == "job_log") {
      out << "\nJob log: " << S(r["line"]) << "\n";
    } else if (kind == "decision") {
      out << "\nReturn-code rules " << (r["stage"] == "after" ? "after" : "before")
          << " the step: step RC value " << r["step_rc_value"] << ", current RC " << r["current_rc"]
          << ", result flag " << Quoted(r["result_flag"]) << ": " << S(r["verdict"]) << "\n";
    } else if (kind == "report_text") {
      if (!r["text"].get<std::string>().empty()) {
        out << "\nReport text the parent gets:\n";
        TextBlock(out, "  ", "| ", r["text"]);
      }
    } else if (kind == "note") {
      if (!notes)
        out << "\nWhat the real machine may do differently:\n";
      notes = true;
      out << "  " << S(r["topic"]) << ": " << S(r["text"]) << "\n";
    } else if (kind == "outcome") {
      if (r.contains("warnings")) {
        out << "\n";
        for (const Json& warning : r["warnings"])
          out << "Warning: " << S(warning) << "\n";
      }
      if (r.contains("unchecked")) {
        out << "\nUnchecked: no --drive mapping reaches the file of rule ";
        std::string list;
        for (const Json& line : r["unchecked"])
          list += (list.empty() ? "" : ", ") + S(line);
        out << list << "; map its drive with --drive to check it. What the rest says:";
      }
      out << "\nOutcome: " << S(r["verdict"]);
      if (!r["status_text"].get<std::string>().empty())
        out << ", status " << Quoted(r["status_text"]);
      out << "; current RC " << r["current_rc"] << ", result flag " << Quoted(r["result_flag"])
          << " (exit status " << r["exit_status"] << ")\n";
    }
  }
}

std::vector<std::string> CrLfLines(std::string_view text, bool keep_last) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) {
      if (start < text.size() || keep_last)
        lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace x5::ctl::check
