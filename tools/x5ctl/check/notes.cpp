// What the real machine may do differently from the check, as notes for what the task used.
#include "x5ctl/check/checker.h"

#include <algorithm>

namespace x5::ctl::check {
void Checker::Notes(bool runs) {
  const Journal& journal = world_.journal();
  auto note = [this](const char* topic, std::string text) {
    Emit(Json{{"record", "note"}, {"topic", topic}, {"text", std::move(text)}});
  };
  auto list = [](const std::vector<std::string>& names, bool skip_blanks) {
    std::vector<std::string> unique;
    for (const std::string& name : names)
      if (std::find(unique.begin(), unique.end(), name) == unique.end() &&
          !(skip_blanks && name.find(' ') != std::string::npos))
        unique.push_back(name);
    std::string out;
    for (const std::string& name : unique)
      out += (out.empty() ? "" : ", ") + U(name);
    return out;
  };
  if (!journal.associations.empty())
    note("associations",
         "not known here, so each line runs as written; on the real machine a "
         "program runs by its full path and a document by its associated program "
         "(looked up: " +
             list(journal.associations, false) + ")");
  // Names with blanks come from text such as "50% of %X%"; nobody means them as variables.
  if (const std::string misses = list(journal.environment_misses, true); !misses.empty())
    note("environment",
         "not defined by the task, so the runner looks in its own environment, "
         "which is not known here (--env NAME=VALUE): " +
             misses);
  if (!journal.environment_given.empty())
    note("environment",
         "taken from --env as the runner's own: " + list(journal.environment_given, false));
  if (journal.clock_used)
    note("clock", std::string(world_.options().now ? "date pictures use --now"
                                                   : "date pictures use this machine's clock") +
                      "; day and month names are English here, the runner's follow its user's "
                      "locale");
  if (values_compared_)
    note("number format", std::string("V= fields are read with \"") +
                              world_.options().number_format.decimal_separator +
                              "\" as the decimal separator here; the runner uses its user's locale "
                              "(--decimal-separator)");
  if (folded_high_bytes_)
    note("case", "folding covers A to Z only here; the runner folds every letter of its code page");
  if (attributes_tested_)
    note("attributes",
         "files count as archive, not system or hidden, here (read-only when not "
         "writable); on the real machine their own attributes decide, and a hidden "
         "or system file counts as missing");
  if (job_log_read_after_)
    note("job log",
         "the runner's rules after the step read the job log as it was when they "
         "began; a log saved at the end also holds the runner's later lines, whose "
         "notes quote the search texts (search it forward to find the step's own "
         "lines first)");
  if (exclusive_open_)
    note("exclusive open",
         "F=(W, ...) fails on the real machine while another process has the "
         "file open; here files are only read");
  bool relative = false;
  bool short_name = false;
  for (const FileLookup& lookup : journal.files) {
    relative |= lookup.mapped.relative;
    short_name |= lookup.mapped.short_name;
  }
  if (relative)
    note("current directory",
         world_.drives().current_directory().empty()
             ? "relative names are looked up in the runner's current directory, which its parent "
               "chooses (--current-directory)"
             : "relative names were looked up in " + U(world_.drives().current_directory()));
  if (short_name)
    note("short names", "8.3 names such as PROGRA~1 exist only on the real machine");
  if (journal.printers_asked)
    note("printers",
         "the printers the step's user can reach are not known here; the report "
         "holds its title only");
  if (journal.error_texts_used)
    note("error texts", "error numbers and texts are this machine's; Windows gives its own");
  if (std::any_of(table_.begin(), table_.end(), [](const std::string& entry) {
        const size_t equals = entry.find('=');
        return equals + 1 < entry.size() && entry[equals + 1] == variables::kPasswordMarker;
      }))
    note("passwords",
         "shown as ***** everywhere, also where the runner hands the plain "
         "password to the step or to a switch");
  note("rights", std::string(journal.writes.empty() ? "" : "no write above was made; ") +
                     "files are read with your rights here, on the real machine the runner's "
                     "account and the folders' access lists decide");
  if (runs)
    note("launch",
         "not checked: the logon, the user's profile, whether the program exists and "
         "starts");
}

}  // namespace x5::ctl::check
