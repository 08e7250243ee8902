// The readable form of `x5ctl check`'s records.
#pragma once

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace x5::ctl::check {

// Writes the records (one JSON object each, with a "record" member) as the readable report.
void WriteCheckText(const std::vector<nlohmann::ordered_json>& records, std::ostream& out);

// The lines of a text cut at CR LF; a text ending in CR LF gives no empty last line unless
// `keep_last`.
[[nodiscard]] std::vector<std::string> CrLfLines(std::string_view text, bool keep_last);

}  // namespace x5::ctl::check
