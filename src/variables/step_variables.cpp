// Step variables: SET and SETP lines, the X5 variables of the task, and global parameter files.
#include "variables/variables.h"

#include <array>
#include <limits>

#include "core/ascii_text.h"
#include "core/fault.h"

namespace x5::variables {
namespace {

constexpr size_t kMaxFileNameLength = 255;

// Names Windows gives to devices whatever directory or extension follows them.
bool IsReservedDeviceName(std::string_view base) noexcept {
  static constexpr std::array<std::string_view, 7> kNames = {"CON",    "PRN",     "AUX",   "NUL",
                                                             "CONIN$", "CONOUT$", "CLOCK$"};
  for (std::string_view reserved : kNames)
    if (core::EqualIgnoringCase(base, reserved))
      return true;
  if (base.size() == 4 && (core::EqualIgnoringCase(base.substr(0, 3), "COM") ||
                           core::EqualIgnoringCase(base.substr(0, 3), "LPT"))) {
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    // 0-9 and the superscript digits 1, 2, 3 of the ANSI code page.
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

// The name as it may appear in a console line.
std::string Printable(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127)
      c = '?';
  return out;
}

// A TAB is text like any other; NUL, line ends and the other control bytes could cut the value
// or smuggle entries into the step's environment. The writer and the loader agree, so a value
// that is written is also loaded.
bool HasControlCharacter(std::string_view text) noexcept {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 32 && u != '\t') || u == 127)
      return true;
  }
  return false;
}

// Tells the observer, if there is one, where the entries from `first` on came from.
void Tell(VariableContext& context,
          size_t first,
          VariableOrigin origin,
          std::string_view source = {}) {
  if (context.observer == nullptr)
    return;
  for (size_t i = first; i < context.table.size(); ++i)
    context.observer->Defined(i, origin, source);
}

// The files are data written by whoever can write the folder: a name that could not have been
// written, or a first line that could smuggle entries into the step's environment, is not taken.
int32_t LoadGlobalParameters(VariableContext& context, const std::string& directory) {
  const ParameterListing listing = context.files.List(directory, kMaxParameterFiles);
  if (!listing.refusal.empty())
    context.console.Line(listing.refusal);
  size_t skipped = listing.left_out;
  size_t bytes = 0;
  int32_t count = 0;
  for (size_t i = 0; i < listing.names.size(); ++i) {
    const std::string& file = listing.names[i];
    const size_t dot = file.find('.');
    if (dot == std::string::npos || dot < 1)
      continue;
    const std::string_view name = core::Trim(std::string_view(file).substr(0, dot));
    if (name.empty() || name.back() != '$')
      continue;
    const std::string path = directory + file;
    if (const std::string_view problem = GlobalParameterNameProblem(name); !problem.empty()) {
      context.console.Line("/X5  Global parameter file " + Printable(path) +
                           " skipped: " + std::string(problem));
      continue;
    }
    std::optional<std::string> line = context.files.ReadFirstLine(path);
    if (!line) {
      context.console.Line("/X5  Global parameter file " + Printable(path) + " could not be read");
      continue;
    }
    if (HasControlCharacter(*line)) {
      context.console.Line("/X5  Global parameter file " + Printable(path) +
                           " skipped: its first line holds a control character");
      continue;
    }
    if (line->size() > kMaxParameterBytes - bytes) {
      skipped += listing.names.size() - i;
      break;
    }
    bytes += line->size();
    // The directory is still empty here, so nothing is written back.
    const size_t first = context.table.size();
    AddVariable(context, name, ParameterFileValue(*line));
    Tell(context, first, VariableOrigin::kGlobalParameterFile, path);
    ++count;
  }
  if (skipped > 0) {
    context.console.Line("/X5  Global parameter files in " + Printable(directory) + " beyond " +
                         std::to_string(kMaxParameterFiles) + " files or " +
                         std::to_string(kMaxParameterBytes >> 20) +
                         " MiB skipped: " + std::to_string(skipped));
  }
  return count;
}

}  // namespace

SetLineResult ParseSetLine(int32_t position, std::string_view text) {
  SetLineResult result;
  if (position < 1 || static_cast<size_t>(position) > text.size())
    return result;
  const size_t begin = static_cast<size_t>(position) - 1;
  const size_t line_end = text.find("\r\n", begin);
  std::string_view line = text.substr(begin);
  int32_t next = 0;
  if (line_end != std::string_view::npos) {
    line = text.substr(begin, line_end - begin);
    const size_t after = line_end + 3;  // 1-based position behind the CR LF
    next = after > static_cast<size_t>(std::numeric_limits<int32_t>::max())
               ? 0
               : static_cast<int32_t>(after);
  }

  const size_t set = core::FindIgnoringCase(line, "SET");
  if (set == std::string_view::npos)
    return result;  // this line and the rest of the block are not processed
  size_t i = set + 3;
  const bool password = i < line.size() && core::UpperAscii(line[i]) == 'P';
  if (password)
    ++i;
  while (i < line.size() && line[i] == ' ')
    ++i;
  const std::string_view rest = line.substr(i);
  const size_t equals = rest.find('=');
  if (equals == std::string_view::npos) {
    result.name = core::TrimRight(rest);
  } else {
    result.name = core::TrimRight(rest.substr(0, equals));
    if (password)
      result.value.push_back(kPasswordMarker);
    result.value.append(rest.substr(equals + 1));
  }
  result.next = next;
  return result;
}

std::string VariablesBlockLines(std::string_view block, char list_delimiter) {
  std::string out;
  out.reserve(block.size() + block.size() / 8);
  for (char c : block) {
    if (c == list_delimiter)
      out.append("\r\n");
    else
      out.push_back(c);
  }
  return out;
}

std::string ParameterFileValue(std::string_view first_line) {
  if (first_line.size() > 1 && first_line.front() == '"') {
    const size_t last = first_line.rfind('"');
    if (last == 1)
      return {};
    if (last > 1)
      return std::string(first_line.substr(1, last - 1));
  }
  return std::string(first_line);
}

std::string_view GlobalParameterNameProblem(std::string_view name) noexcept {
  if (name.empty())
    return "the name is empty";
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127)
      return "the name holds a control character";
  }
  if (name.find_first_of("\\/") != std::string_view::npos)
    return "the name holds a path separator";
  if (name.find(':') != std::string_view::npos)
    return "the name holds a drive colon";
  if (name.find("..") != std::string_view::npos)
    return "the name holds \"..\"";
  if (name.find_first_of("<>\"|?*") != std::string_view::npos)
    return "the name holds a character that file names cannot hold";
  // A name is looked up as %NAME% and stored as NAME=value: neither may be ambiguous.
  if (name.find('=') != std::string_view::npos)
    return "the name holds \"=\"";
  if (name.find('%') != std::string_view::npos)
    return "the name holds \"%\"";
  if (name.size() + kGlobalParameterSuffix.size() > kMaxFileNameLength)
    return "the name is too long for a file name";
  // Windows takes the part before the first "." (blanks after it ignored) as the device.
  if (IsReservedDeviceName(core::TrimRight(name.substr(0, name.find('.')))))
    return "the name is a reserved device name";
  return {};
}

core::Added AddVariable(VariableContext& context,
                        std::string_view name,
                        std::string_view value) noexcept {
  try {
    // The environment would cut such a name or read another one in it, and the step would get
    // the value under a name nobody wrote.
    if (const std::string_view problem = core::VariableNameProblem(name); !problem.empty()) {
      context.console.Line("/X5  Variable " + Printable(name) +
                           " not defined: " + std::string(problem));
      return core::Added::kNotDefined;
    }
    std::string entry;
    entry.reserve(name.size() + 1 + value.size());
    entry.append(name).append("=").append(value);
    context.table.push_back(std::move(entry));
  } catch (...) {
    core::UnexpectedFault("AddVariable");
    return core::Added::kNotDefined;
  }
  if (context.global_parameter_directory.empty() || name.empty() || name.back() != '$')
    return core::Added::kDefined;

  try {
    if (std::string_view problem = GlobalParameterNameProblem(name); !problem.empty()) {
      context.console.Line("/X5  Global parameter " + Printable(name) +
                           " not written: " + std::string(problem));
      return core::Added::kFileNotWritten;
    }
    if (HasControlCharacter(value)) {
      context.console.Line("/X5  Global parameter " + Printable(name) +
                           " not written: its value holds a control character");
      return core::Added::kFileNotWritten;
    }
    const std::string path = context.global_parameter_directory + std::string(name) +
                             std::string(kGlobalParameterSuffix);
    std::string content;
    content.reserve(value.size() + 4);
    content.append("\"").append(value).append("\"\r\n");
    std::string refusal;
    const core::Result<void> written = context.files.WriteAtomically(path, content, refusal);
    if (!refusal.empty())
      context.console.Line(refusal);
    if (!written)  // defined all the same; the file keeps its old value
      return core::Added::kFileNotWritten;
    context.console.Line("/X5  Global parameter " + std::string(name) + " written to " + path);
    return core::Added::kDefined;
  } catch (...) {
    core::UnexpectedFault("AddVariable");
    return core::Added::kFileNotWritten;
  }
}

core::Added AddVariable(VariableContext& context, std::string_view name, int64_t value) noexcept {
  try {
    return AddVariable(context, name, std::string_view(std::to_string(value)));
  } catch (...) {
    core::UnexpectedFault("AddVariable");
    return core::Added::kNotDefined;
  }
}

int32_t SetStepVariables(VariableContext& context) noexcept {
  int32_t count = 0;
  try {
    const protocol::TaskRecord& task = context.task;
    const std::string job_directory =
        protocol::Trimmed(task.job_base_directory) + protocol::Trimmed(task.job_name) + "\\";
    const std::string directory = job_directory + protocol::Trimmed(task.step_directory) + "\\";

    // Loading defines the parameters without writing their files back.
    context.global_parameter_directory.clear();
    count += LoadGlobalParameters(context, directory);
    context.global_parameter_directory = directory;

    const std::pair<std::string_view, std::string> task_variables[] = {
        {"X5S", directory},
        {"X5T", job_directory},
        {"X5N", std::to_string(task.job_number)},
        {"X5D", protocol::Trimmed(task.step_directory)},
        {"X5Step", std::to_string(task.step_number)},
        {"X5User", protocol::Trimmed(task.user_name)},
        {"X5Name", protocol::Trimmed(task.job_name)},
        {"X5RepC", std::to_string(task.repeat_count)},
        {"X5Max", std::to_string(task.maximum_rc)},
        {"X5TRC", std::to_string(task.task_rc)},
    };
    for (const auto& [name, value] : task_variables) {
      const size_t first = context.table.size();
      AddVariable(context, name, std::string_view(value));
      Tell(context, first, VariableOrigin::kTask);
      ++count;
    }

    const std::string lines = VariablesBlockLines(context.variables_text, context.list_delimiter);
    int32_t position = 1;
    for (;;) {
      const SetLineResult line = ParseSetLine(position, lines);
      if (line.next == -1)
        break;
      // A line without a name ("SET", "SET =1") defines nothing.
      const size_t first = context.table.size();
      if (!line.name.empty() &&
          AddVariable(context, line.name, std::string_view(line.value)) != core::Added::kNotDefined)
        ++count;
      const bool password = !line.value.empty() && line.value.front() == kPasswordMarker;
      Tell(context, first, password ? VariableOrigin::kSetpLine : VariableOrigin::kSetLine);
      if (line.next == 0)
        break;
      position = line.next;
    }

    const std::string work =
        ExpandVariables(context, protocol::Trimmed(task.working_directory), kMaskPasswords, false);
    const size_t first = context.table.size();
    AddVariable(context, "X5W", std::string_view(work));
    Tell(context, first, VariableOrigin::kWorkingDirectory);
    ++count;
  } catch (...) {
    // Whatever was defined stays defined; the console names the fault.
    core::ReportFault(context.console, "step variables", core::UnexpectedFault("SetStepVariables"));
  }
  return count;
}

}  // namespace x5::variables
