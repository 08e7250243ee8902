// The console line that names a process the runner is about to end: its id, image name and the
// titles of its top-level windows, so the job log keeps the evidence even without pictures.
#include "pictures/process_evidence.h"

namespace x5 {
namespace {

void AppendTitle(std::string& line, std::string_view title) {
  line += '"';
  const size_t n = title.size() < kEvidenceTitleLimit ? title.size() : kEvidenceTitleLimit;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(title[i]);
    line += (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  }
  if (title.size() > n)
    line += "...";
  line += '"';
}

}  // namespace

std::string ProcessEvidenceLine(const ProcessEvidence& evidence) {
  std::string line = "Ending process #" + std::to_string(evidence.process_id) + " ";
  line += evidence.image_name.empty() ? std::string("?") : evidence.image_name;
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

}  // namespace x5
