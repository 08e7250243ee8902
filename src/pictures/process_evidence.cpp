// The console line that names a process the runner is about to end: its id, image name and the
// titles of its top-level windows, so the job log keeps the evidence even without pictures.
#include "pictures/process_evidence.h"

#include "core/shown_text.h"

namespace x5::pictures {
namespace {

void AppendTitle(std::string& line, std::string_view title) {
  line += '"';
  const size_t n = title.size() < kEvidenceTitleLimit ? title.size() : kEvidenceTitleLimit;
  core::AppendShown(line, title.substr(0, n));
  if (title.size() > n)
    line += "...";
  line += '"';
}

}  // namespace

std::string ProcessEvidenceLine(const ProcessEvidence& evidence) {
  std::string line = "Ending process #" + std::to_string(evidence.process_id) + " ";
  if (evidence.image_name.empty())
    line += '?';
  else
    core::AppendShown(line, evidence.image_name);
  if (evidence.titles.empty())
    return line + ", no titled windows";
  line += ", windows: ";
  const size_t listed =
      evidence.titles.size() < kEvidenceTitleCount ? evidence.titles.size() : kEvidenceTitleCount;
  for (size_t i = 0; i < listed; ++i) {
    if (i > 0)
      line += ", ";
    AppendTitle(line, evidence.titles[i]);
  }
  if (evidence.titles.size() > listed)
    line += " and " + std::to_string(evidence.titles.size() - listed) + " more";
  return line;
}

}  // namespace x5::pictures
