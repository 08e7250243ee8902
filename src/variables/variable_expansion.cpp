// Variable expansion: %NAME% references resolved from date pictures, the runner variable table and
// the process environment.
#include "variables/variables.h"

#include <algorithm>

#include "cipher/password_cipher.h"
#include "cipher/secret_string.h"
#include "core/fault.h"

namespace x5 {
namespace {

char Upper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i]))
      return false;
  return true;
}

enum class Found { kNothing, kEmpty, kValue };

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
    const LocalTime now = context.clock.Now();  // read once per reference
    r.owned = FormatDatePicture(name.substr(1, name.size() - 2), now, context.date_names);
    if (!r.owned.empty()) {
      r.found = Found::kValue;
      r.value = r.owned;
    }
    return;
  }
  // An empty name ("%%") is never a reference, whatever the table holds.
  if (name.empty() || name.size() > kMaxVariableName)
    return;
  if (std::optional<std::string_view> value = FindVariable(context.table, name)) {
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
    (void)UnexpectedFault("ResolveVariable");
    r.found = Found::kNothing;
    r.value = {};
  }
}

// The expanded text. Once a deciphered password is in it, every buffer it outgrows is wiped
// before release, and so is what is left behind when the text is handed over.
class Output {
 public:
  explicit Output(size_t reserve) { text_.reserve(reserve); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (secret_) {
      text_.resize(text_.capacity());
      WipeBytes(text_.data(), text_.size());
    }
  }
  void Append(std::string_view s) {
    if (secret_ && text_.size() + s.size() > text_.capacity())
      Grow(text_.size() + s.size());
    text_.append(s.data(), s.size());
  }
  void Append(char c) { Append(std::string_view(&c, 1)); }
  void AppendSecret(std::string_view s) {
    secret_ = true;
    Append(s);
  }
  std::string Take() { return std::move(text_); }

 private:
  void Grow(size_t needed) {
    std::string bigger;
    bigger.reserve(std::max(needed, text_.capacity() * 2));
    bigger.append(text_);
    text_.resize(text_.capacity());
    WipeBytes(text_.data(), text_.size());
    text_.swap(bigger);
  }
  std::string text_;
  bool secret_ = false;
};

std::string ExpandText(const VariableContext& context,
                       std::string_view text,
                       bool decipher_passwords,
                       bool quote_empty) {
  Output out(text.size() + text.size() / 8);
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
        out.Append('%');
        out.Append(name);
        start = close;
        continue;
      case Found::kEmpty:
        if (quote_empty)
          out.Append("\"\"");
        break;
      case Found::kValue:
        if (r.value.front() == kPasswordMarker) {
          if (decipher_passwords)
            out.AppendSecret(Rozavadedo::DecipherVariable(r.value.substr(1)).View());
          else
            out.Append("*****");
        } else {
          out.Append(r.value);
        }
        break;
    }
    start = close + 1;
  }
  if (start < text.size())
    out.Append(text.substr(start));
  return out.Take();
}

}  // namespace

std::optional<std::string_view> FindVariable(const std::vector<std::string>& table,
                                             std::string_view name) noexcept {
  const size_t n = name.size();
  for (const std::string& entry : table) {
    if (entry.size() > n && entry[n] == '=' &&
        EqualNoCase(std::string_view(entry).substr(0, n), name))
      return std::string_view(entry).substr(n + 1);
  }
  return std::nullopt;
}

std::string ExpandVariables(const VariableContext& context,
                            std::string_view text,
                            bool decipher_passwords,
                            bool quote_empty) noexcept {
  try {
    if (text.size() < 3 || text.find('%') == std::string_view::npos)
      return std::string(text);
    return ExpandText(context, text, decipher_passwords, quote_empty);
  } catch (...) {
    (void)UnexpectedFault("ExpandVariables");
    try {
      return std::string(text);
    } catch (...) {
      (void)UnexpectedFault("ExpandVariables");
      return {};
    }
  }
}

std::string ResolveVariable(const VariableContext& context, std::string_view name) {
  Resolution r;
  ResolveOrNothing(context, name, r);
  switch (r.found) {
    case Found::kNothing:
      return {};
    case Found::kEmpty:
      return std::string(kEmptyValueMarker);
    case Found::kValue:
      break;
  }
  return std::string(r.value);
}

}  // namespace x5
