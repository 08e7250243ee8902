// What the real machine may do differently from the check: a table of notes, each said when the
// task used what it is about.
#include "x5ctl/check/checker.h"

#include <algorithm>

namespace x5::ctl::check {
namespace {

// What the notes are decided from.
struct NoteFacts {
  const Journal& journal;
  const WorldOptions& options;
  const DriveMap& drives;
  const std::vector<std::string>& table;
  bool runs;
  bool values_compared;
  bool folded_high_bytes;
  bool attributes_tested;
  bool job_log_read_after;
  bool exclusive_open;
};

// The names once each, in their order; names with blanks (from text such as "50% of %X%", which
// nobody means as variables) left out when `skip_blanks`.
std::string List(const std::vector<std::string>& names, bool skip_blanks) {
  std::vector<std::string> unique;
  for (const std::string& name : names)
    if (std::find(unique.begin(), unique.end(), name) == unique.end() &&
        !(skip_blanks && name.find(' ') != std::string::npos))
      unique.push_back(name);
  std::string out;
  for (const std::string& name : unique)
    out += (out.empty() ? "" : ", ") + U(name);
  return out;
}

bool AnyFile(const NoteFacts& f, bool MappedPath::*flag) {
  return std::any_of(f.journal.files.begin(), f.journal.files.end(),
                     [&](const FileLookup& lookup) { return lookup.mapped.*flag; });
}

// A note's topic and its text; an empty text: the note is not said.
struct NoteEntry {
  const char* topic;
  std::string (*text)(const NoteFacts& f);
};

const NoteEntry kNotes[] = {
    {"associations",
     [](const NoteFacts& f) {
       return f.journal.associations.empty()
                  ? std::string()
                  : "not known here, so each line runs as written; on the real machine a program "
                    "runs by its full path and a document by its associated program (looked up: " +
                        List(f.journal.associations, false) + ")";
     }},
    {"environment",
     [](const NoteFacts& f) {
       const std::string misses = List(f.journal.environment_misses, true);
       return misses.empty() ? std::string()
                             : "not defined by the task, so the runner looks in its own "
                               "environment, which is not known here (--env NAME=VALUE): " +
                                   misses;
     }},
    {"environment",
     [](const NoteFacts& f) {
       return f.journal.environment_given.empty() ? std::string()
                                                  : "taken from --env as the runner's own: " +
                                                        List(f.journal.environment_given, false);
     }},
    {"clock",
     [](const NoteFacts& f) {
       return !f.journal.clock_used
                  ? std::string()
                  : std::string(f.options.now ? "date pictures use --now"
                                              : "date pictures use this machine's clock") +
                        "; day and month names are English here, the runner's follow its user's "
                        "locale";
     }},
    {"number format",
     [](const NoteFacts& f) {
       return !f.values_compared ? std::string()
                                 : std::string("V= fields are read with \"") +
                                       f.options.number_format.decimal_separator +
                                       "\" as the decimal separator here; the runner uses its "
                                       "user's locale (--decimal-separator)";
     }},
    {"case",
     [](const NoteFacts& f) {
       return std::string(f.folded_high_bytes ? "folding covers A to Z only here; the runner "
                                                "folds every letter of its code page"
                                              : "");
     }},
    {"attributes",
     [](const NoteFacts& f) {
       return std::string(f.attributes_tested
                              ? "files count as archive, not system or hidden, here (read-only "
                                "when not writable); on the real machine their own attributes "
                                "decide, and a hidden or system file counts as missing"
                              : "");
     }},
    {"job log",
     [](const NoteFacts& f) {
       return std::string(f.job_log_read_after
                              ? "the runner's rules after the step read the job log as it was "
                                "when they began; a log saved at the end also holds the runner's "
                                "later lines, whose notes quote the search texts (search it "
                                "forward to find the step's own lines first)"
                              : "");
     }},
    {"exclusive open",
     [](const NoteFacts& f) {
       return std::string(f.exclusive_open ? "F=(W, ...) fails on the real machine while another "
                                             "process has the file open; here files are only read"
                                           : "");
     }},
    {"current directory",
     [](const NoteFacts& f) {
       if (!AnyFile(f, &MappedPath::relative))
         return std::string();
       return f.drives.current_directory().empty()
                  ? std::string(
                        "relative names are looked up in the runner's current directory, "
                        "which its parent chooses (--current-directory)")
                  : "relative names were looked up in " + U(f.drives.current_directory());
     }},
    {"short names",
     [](const NoteFacts& f) {
       return std::string(AnyFile(f, &MappedPath::short_name)
                              ? "8.3 names such as PROGRA~1 exist only on the real machine"
                              : "");
     }},
    {"printers",
     [](const NoteFacts& f) {
       return std::string(f.journal.printers_asked
                              ? "the printers the step's user can reach are not known here; the "
                                "report holds its title only"
                              : "");
     }},
    {"error texts",
     [](const NoteFacts& f) {
       return std::string(f.journal.error_texts_used ? "error numbers and texts are this "
                                                       "machine's; Windows gives its own"
                                                     : "");
     }},
    {"passwords",
     [](const NoteFacts& f) {
       const bool any = std::any_of(f.table.begin(), f.table.end(), [](const std::string& entry) {
         const size_t equals = entry.find('=');
         return equals + 1 < entry.size() && entry[equals + 1] == variables::kPasswordMarker;
       });
       return std::string(any ? "shown as ***** everywhere, also where the runner hands the "
                                "plain password to the step or to a switch"
                              : "");
     }},
    {"rights",
     [](const NoteFacts& f) {
       return std::string(f.journal.writes.empty() ? "" : "no write above was made; ") +
              "files are read with your rights here, on the real machine the runner's account "
              "and the folders' access lists decide";
     }},
    {"launch",
     [](const NoteFacts& f) {
       return std::string(f.runs ? "not checked: the logon, the user's profile, whether the "
                                   "program exists and starts"
                                 : "");
     }},
};

}  // namespace

void Checker::Notes(bool runs) {
  const NoteFacts facts{world_.journal(),
                        world_.options(),
                        world_.drives(),
                        table_,
                        runs,
                        values_compared_,
                        folded_high_bytes_,
                        attributes_tested_,
                        job_log_read_after_,
                        exclusive_open_};
  for (const NoteEntry& note : kNotes)
    if (std::string text = note.text(facts); !text.empty())
      Emit(Json{{"record", "note"}, {"topic", note.topic}, {"text", std::move(text)}});
}

}  // namespace x5::ctl::check
