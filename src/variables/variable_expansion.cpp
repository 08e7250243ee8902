// Variable expansion: %NAME% references resolved from date pictures, the runner variable table and
// the process environment.
#include "variables/variables.h"

#include "cipher/password_cipher.h"
#include "core/secret_string.h"
#include "core/fault.h"

namespace x5::variables {
namespace {

enum class Found { kNothing, kEmpty, kValue };

constexpr std::string_view kMaskedPassword = "*****";

// One resolved name. `value` points into the table or into `owned`.
struct Resolution {
  Found found = Found::kNothing;
  std::string_view value;
  std::string owned;
};

bool IsDatePicture(std::string_view name) noexcept {
  return name.size() >= 2 && name.size() <= kMaxDatePictureName && name.front() == '#' &&
         name.back() == '#';
}

void Resolve(const VariableContext& context, std::string_view name, Resolution& r) {
  r.found = Found::kNothing;
  r.value = {};
  r.owned.clear();
  if (name == "#")
    return;
  if (IsDatePicture(name)) {
    const core::LocalTime now = context.clock.Now();  // read once per reference
    r.owned = FormatDatePicture(name.substr(1, name.size() - 2), now, context.date_names);
    if (!r.owned.empty()) {
      r.found = Found::kValue;
      r.value = r.owned;
    }
    return;
  }
  // An empty name ("%%") is never a reference, whatever the table holds.
  // Nor is a name no variable can have: the environment would cut it at a NUL.
  if (name.empty() || name.size() > kMaxVariableName || !core::VariableNameProblem(name).empty())
    return;
  if (std::optional<std::string_view> value = FindVariable(context.table, name, context.names)) {
    r.found = value->empty() ? Found::kEmpty : Found::kValue;
    r.value = *value;
    return;
  }
  if (std::optional<std::string> value = context.environment.Get(name); value && !value->empty()) {
    r.owned = std::move(*value);
    r.found = Found::kValue;
    r.value = r.owned;
  }
}

// One reference's failure (a bad picture, memory) leaves that reference unresolved.
void ResolveOrNothing(const VariableContext& context,
                      std::string_view name,
                      Resolution& r) noexcept {
  try {
    Resolve(context, name, r);
  } catch (...) {
    core::UnexpectedFault("ResolveVariable");
    r.found = Found::kNothing;
    r.value = {};
  }
}

// Where an expansion writes. Each sink takes the plain text between references and the values
// found, and decides what a password value becomes.
class MaskedSink {
 public:
  explicit MaskedSink(size_t reserve) { text_.reserve(reserve); }
  void Append(std::string_view s) { text_.append(s); }
  void AppendPassword(std::string_view) { text_.append(kMaskedPassword); }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// A text that holds deciphered passwords already: its copy lives in the wiping type too.
class SecretMaskedSink {
 public:
  explicit SecretMaskedSink(size_t reserve) { text_.Reserve(reserve); }
  void Append(std::string_view s) { text_.Append(s); }
  void AppendPassword(std::string_view) { text_.Append(kMaskedPassword); }
  core::SecretString Take() { return std::move(text_); }

 private:
  core::SecretString text_;
};

// Both forms at once, so that every reference (a date picture too) is resolved once for both.
class DecipheringSink {
 public:
  explicit DecipheringSink(size_t reserve) {
    out_.deciphered.Reserve(reserve);
    out_.shown.reserve(reserve);
  }
  void Append(std::string_view s) {
    out_.deciphered.Append(s);
    out_.shown.append(s);
  }
  void AppendPassword(std::string_view enciphered) {
    const core::SecretString plain = cipher::DecipherVariable(enciphered);
    out_.passwords.push_back({out_.shown.size(), out_.deciphered.Size(), plain.Size()});
    out_.deciphered.Append(plain.View());
    out_.shown.append(kMaskedPassword);
  }
  core::Expansion Take() { return std::move(out_); }

 private:
  core::Expansion out_;
};

// Room for a few passwords beyond the text, so a secret buffer rarely grows. It always starts on
// the heap (never in the string's inline buffer, which its allocator could not wipe when it grows).
size_t ReserveFor(std::string_view text) noexcept {
  return text.size() + text.size() / 8 + 64;
}

template <typename Sink>
void ExpandInto(const VariableContext& context,
                std::string_view text,
                bool quote_empty,
                Sink& out) {
  Resolution r;
  size_t start = 0;  // first character not yet consumed
  while (start < text.size()) {
    const size_t open = text.find('%', start);
    if (open == std::string_view::npos)
      break;
    out.Append(text.substr(start, open - start));
    const size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      start = open;  // a lone "%" and what follows are copied
      break;
    }
    const std::string_view name = text.substr(open + 1, close - open - 1);
    ResolveOrNothing(context, name, r);
    switch (r.found) {
      case Found::kNothing:
        // The closing "%" may open the next reference ("50% of %X%").
        out.Append("%");
        out.Append(name);
        start = close;
        continue;
      case Found::kEmpty:
        if (quote_empty)
          out.Append("\"\"");
        break;
      case Found::kValue:
        if (r.value.front() == kPasswordMarker)
          out.AppendPassword(r.value.substr(1));
        else
          out.Append(r.value);
        break;
    }
    start = close + 1;
  }
  if (start < text.size())
    out.Append(text.substr(start));
}

bool HasNoReference(std::string_view text) noexcept {
  return text.size() < 3 || text.find('%') == std::string_view::npos;
}

}  // namespace

std::optional<std::string_view> FindVariable(const std::vector<std::string>& table,
                                             std::string_view name,
                                             const core::NameFold& names) noexcept {
  const size_t n = name.size();
  for (const std::string& entry : table) {
    if (entry.size() > n && entry[n] == '=' &&
        names.Equal(std::string_view(entry).substr(0, n), name))
      return std::string_view(entry).substr(n + 1);
  }
  return std::nullopt;
}

std::string ExpandVariables(const VariableContext& context,
                            std::string_view text,
                            MaskPasswords,
                            bool quote_empty) noexcept {
  try {
    if (HasNoReference(text))
      return std::string(text);
    MaskedSink out(ReserveFor(text));
    ExpandInto(context, text, quote_empty, out);
    return out.Take();
  } catch (...) {
    core::UnexpectedFault("ExpandVariables");
    try {
      return std::string(text);
    } catch (...) {
      core::UnexpectedFault("ExpandVariables");
      return {};
    }
  }
}

core::Expansion ExpandVariables(const VariableContext& context,
                                std::string_view text,
                                DecipherPasswords,
                                bool quote_empty) noexcept {
  try {
    DecipheringSink out(ReserveFor(text));
    if (HasNoReference(text))
      out.Append(text);
    else
      ExpandInto(context, text, quote_empty, out);
    return out.Take();
  } catch (...) {
    core::UnexpectedFault("ExpandVariables");
    // The text as written holds no deciphered password.
    try {
      return core::Expansion{core::SecretString(text), std::string(text), {}};
    } catch (...) {
      core::UnexpectedFault("ExpandVariables");
      return {};
    }
  }
}

core::SecretString ExpandVariables(const VariableContext& context,
                                   const core::SecretString& text,
                                   MaskPasswords,
                                   bool quote_empty) noexcept {
  try {
    SecretMaskedSink out(ReserveFor(text.View()));
    if (HasNoReference(text.View()))
      out.Append(text.View());
    else
      ExpandInto(context, text.View(), quote_empty, out);
    return out.Take();
  } catch (...) {
    core::UnexpectedFault("ExpandVariables");
    try {
      core::SecretString copy;
      copy.Reserve(ReserveFor(text.View()));
      copy.Append(text.View());
      return copy;
    } catch (...) {
      core::UnexpectedFault("ExpandVariables");
      return {};
    }
  }
}

}  // namespace x5::variables
