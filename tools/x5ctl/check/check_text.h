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

}  // namespace x5::ctl::check
