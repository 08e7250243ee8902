// The console line that names a process the runner is about to end: its id, image name and the
// titles of its top-level windows, so the job log keeps the evidence even without pictures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace x5::pictures {

struct ProcessEvidence {
  uint32_t process_id = 0;
  std::string image_name;           // "" when unknown
  std::vector<std::string> titles;  // titled top-level windows, in window order
};

// Titles longer than this are cut (with "...") and at most this many are listed.
inline constexpr size_t kEvidenceTitleLimit = 100;
inline constexpr size_t kEvidenceTitleCount = 20;

// "Ending process #ID IMAGE, windows: "A", "B"" or "..., no titled windows". The image name and
// the titles are the step's own texts: they are shown (control characters made visible), so they
// cannot break or forge the job log's lines.
std::string ProcessEvidenceLine(const ProcessEvidence& evidence);

}  // namespace x5::pictures
