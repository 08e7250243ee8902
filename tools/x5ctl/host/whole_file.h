// Whole files in and out, for the subcommands that read captures and task streams and write them.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"

namespace x5::ctl::host {

// Every byte of the file at `path`; "-" reads `standard_input` to its end.
core::Result<std::vector<uint8_t>> ReadWholeFile(const std::string& path,
                                                 std::istream& standard_input);

// Writes `bytes` as the whole file at `path`, replacing what it held.
core::Result<void> WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace x5::ctl::host
