// One rule line against the file system: file facts, open, search loop, value checks, output,
// return code and variable.
#include "conditions/file_rule.h"

#include <algorithm>

#include "conditions/file_search.h"
#include "conditions/rule_language.h"
#include "conditions/text_concat.h"
#include "conditions/value_check.h"
#include "core/ascii_text.h"
#include "core/fault.h"
#include "core/shown_text.h"
#include "protocol/report_texts.h"

namespace x5::conditions {
namespace {

bool HoldsSize(std::string_view op, int64_t file_size, int64_t wanted) {
  if (op == "=")
    return file_size == wanted;
  if (op == "<>")
    return file_size != wanted;
  if (op == ">")
    return file_size > wanted;
  if (op == "<")
    return file_size < wanted;
  if (op == ">=")
    return file_size >= wanted;
  if (op == "<=")
    return file_size <= wanted;
  return false;
}

std::string AttributePattern(const FileFacts& f) {
  std::string p = "    ";
  if (f.archive)
    p[0] = 'A';
  if (f.read_only)
    p[1] = 'R';
  if (f.system)
    p[2] = 'S';
  if (f.hidden)
    p[3] = 'H';
  return p;
}

bool AttributesMatch(std::string_view op, std::string_view wanted, std::string_view actual) {
  for (size_t i = 0; i < 4; ++i) {
    const char w = i < wanted.size() ? wanted[i] : ' ';
    if (op == "=" ? w != actual[i] : (w != ' ' && w != actual[i]))
      return false;
  }
  return true;
}

// The console note for a found text: where it is, with the line number when the bytes before it
// are few enough to count.
void NoteFound(ConditionContext& context,
               ConditionFile& file,
               const RuleSettings& s,
               int64_t position) {
  const int64_t offset = position - 1;
  std::optional<int64_t> line;
  std::optional<int64_t> column;
  if (offset <= kCheapLineCountBytes) {
    int64_t lines = 0;
    int64_t last_feed = -1;
    bool ok = true;
    constexpr int64_t kPiece = 64 * 1024;
    for (int64_t at = 0; at < offset && ok; at += kPiece) {
      const int64_t n = std::min(kPiece, offset - at);
      const std::span<const uint8_t> bytes = file.Peek(at, n);
      ok = !bytes.empty();
      const auto feeds = std::count(bytes.begin(), bytes.end(), uint8_t{'\n'});
      lines += feeds;
      for (size_t i = bytes.size(); feeds > 0 && i > 0; --i) {
        if (bytes[i - 1] == '\n') {
          last_feed = at + static_cast<int64_t>(i - 1);
          break;
        }
      }
    }
    if (ok) {
      line = lines + 1;
      column = offset - last_feed;
    }
  }
  if (!line) {
    if (const int64_t at = ColumnOf(file, position, context.limits.line_limit); at > 0)
      column = at;
  }
  // The search text is what the file holds there, so it is shown like any file bytes.
  context.console.Line(
      core::ShownText(protocol::FoundNote(s.search_text, s.file_name, offset, line, column)));
}

enum class OpenState { kNotOpened, kOpen, kOpenFailed };

// A firing rule: an RC value of 0 sets the step RC value to 0, any other raises it.
void ApplyRc(core::RcState& rc, int32_t rc_value) noexcept {
  if (rc_value == 0)
    rc.step_rc_value = 0;
  else if (rc_value > rc.step_rc_value)
    rc.step_rc_value = rc_value;
}

// A fault inside the check ends the rule as if its file could not be read (a normal rule fires,
// a reverse rule does not), and the console names the fault.
std::string FaultedRule(ConditionContext& context,
                        const RuleSettings& s,
                        int32_t line_number,
                        bool after_step,
                        std::string_view fault) noexcept {
  if (!s.reverse)
    ApplyRc(context.rc, s.rc_value);
  try {
    core::ReportFault(context.console,
                      Concat({protocol::kRulesName, " line ", std::to_string(line_number)}), fault);
    const std::string variable(core::Trim(s.variable_name));
    if (!variable.empty())
      context.variables.AddVariable(variable, std::to_string(s.rc_value));
    if (s.reverse)
      return {};
    return Concat({protocol::RuleLinePrefix(line_number, s.rc_value, after_step),
                   protocol::ReadFailedFinding(s.file_name), "\r\n"});
  } catch (...) {
    core::UnexpectedFault("CheckFileRule");
    return {};
  }
}

}  // namespace

std::string CheckFileRule(ConditionContext& context,
                          RuleSettings& s,
                          int32_t line_number,
                          bool after_step,
                          bool forward,
                          bool* killed) noexcept {
  try {
    int64_t quantity = s.quantity;
    if (quantity == 0 && context.limits.line_width > 0)
      quantity = context.limits.line_width;
    if (quantity >= 1 && quantity <= 79)
      quantity = 80;
    const std::string prefix = protocol::RuleLinePrefix(line_number, s.rc_value, after_step);
    const int64_t count = s.occurrence_count == 0 ? 1 : s.occurrence_count;

    std::string message;
    std::string found_text;
    bool opened = false;
    bool checks_done = false;  // size or attribute test failed: straight to the output
    OpenState state = OpenState::kNotOpened;
    ConditionFile file;
    std::optional<ValueField> field;  // only followed for an observer

    const std::optional<FileFacts> facts = context.files.Find(s.file_name);
    if (facts) {
      const std::string actual = AttributePattern(*facts);
      if (!HoldsSize(s.size_operator, facts->size, s.size)) {
        message = protocol::FileSizeFinding(facts->size, s.size_operator, s.size);
        checks_done = true;
      } else if (!AttributesMatch(s.attribute_operator, s.attribute_pattern, actual)) {
        message = protocol::FileAttributeFinding(actual, s.attribute_operator, s.attribute_pattern);
        checks_done = true;
      } else if (!OpenConditionFile(context.files, s.open_mode, s.file_name, file)) {
        state = OpenState::kOpenFailed;
      } else {
        state = OpenState::kOpen;
        opened = true;
        found_text = protocol::FoundFileText(s.file_name);
      }
    }

    if (state == OpenState::kOpen && !s.search_text.empty()) {
      // The buffer size comes normalised; a value that is not would make every byte a chunk.
      const int32_t buffer =
          context.limits.file_buffer_size > 0 ? context.limits.file_buffer_size : 4096;
      SearchEnv env{context.pacer, buffer, context.case_map, context.first_read_bytes,
                    context.largest_read_bytes};
      OccurrenceQuery query;
      query.text = s.search_text;
      query.case_folding = s.case_folding;
      query.forward = forward;
      query.start = s.start_position;
      query.quantity = quantity;
      query.count = count;
      query.column = s.search_column;
      query.line_limit = context.limits.line_limit;
      const int64_t found = FindOccurrence(env, file, query);
      if (found < 1) {
        if (found == kSearchKilled) {
          message = protocol::RulesKilledFinding();
          s.rc_value = 0;
          if (killed)
            *killed = true;
        } else if (found == kReadFailed) {
          message = protocol::ReadFailedFinding(s.file_name);
        } else {
          message = protocol::NotFoundFinding(s.search_text);
        }
      } else {
        NoteFound(context, file, s, found);
        found_text = protocol::FoundPositionText(found, quantity);
        message = CheckValues(file, found, s, context.case_map, context.number_format,
                              context.observer ? &field : nullptr);
      }
    }

    if (!checks_done) {
      if (state == OpenState::kOpen) {
        file.Close();
      } else if (state == OpenState::kOpenFailed) {
        message = protocol::OpenFailedFinding(s.file_name, s.open_mode);
      } else if (s.size_operator == ">" || s.size_operator == "<>" || s.size != 0) {
        message = protocol::InvalidFileFinding(s.file_name);
      }
    }

    if (context.observer)
      context.observer->Checked(message, field ? &*field : nullptr);

    std::string output;
    bool apply = false;
    if (!s.reverse) {
      if (!message.empty()) {
        output = Concat({prefix, message, "\r\n"});
        apply = true;
      }
    } else if (message.empty() && opened) {
      output = Concat({prefix, found_text, "\r\n"});
      apply = true;
    }
    if (apply)
      ApplyRc(context.rc, s.rc_value);
    const std::string variable(core::Trim(s.variable_name));
    if (!variable.empty())
      context.variables.AddVariable(variable, std::to_string(s.rc_value));
    return output;
  } catch (...) {
    return FaultedRule(context, s, line_number, after_step, core::UnexpectedFault("CheckFileRule"));
  }
}

}  // namespace x5::conditions
