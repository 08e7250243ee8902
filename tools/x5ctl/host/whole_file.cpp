#include "x5ctl/host/whole_file.h"

#include <fstream>
#include <istream>
#include <iterator>

namespace x5::ctl::host {

core::Result<std::vector<uint8_t>> ReadWholeFile(const std::string& path,
                                                 std::istream& standard_input) {
  if (path == "-") {
    standard_input >> std::noskipws;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(standard_input),
                                std::istreambuf_iterator<char>());
  }
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return core::Failure{path + ": cannot open the file"};
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  if (in.bad())
    return core::Failure{path + ": cannot read the file"};
  return bytes;
}

core::Result<void> WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out)
    return core::Failure{path + ": cannot write the file"};
  return {};
}

}  // namespace x5::ctl::host
