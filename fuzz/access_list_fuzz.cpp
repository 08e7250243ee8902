// Fuzzes access-list rebuilding over arbitrary list bytes, and the reading of a user environment
// block that may lack its end, checking that every list written is whole and self-consistent.
#include <vector>

#include "launch/access_list.h"
#include "launch/environment_block.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

namespace {

struct BytesObject final : x5::launch::ObjectSecurity {
  Snapshot snapshot;
  std::vector<uint8_t> written;
  Snapshot ReadDacl() override { return snapshot; }
  WriteFailure WriteDacl(std::span<const uint8_t> acl) override {
    written.assign(acl.begin(), acl.end());
    return WriteFailure::kNone;
  }
  std::string HandleText() const override { return "1"; }
};

const std::vector<uint8_t> kUser = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 33, 2, 0, 0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 8192)
    return 0;
  const uint16_t count = static_cast<uint16_t>(data[0] | data[1] << 8);
  const uint8_t mode = data[2];
  const std::span<const uint8_t> acl(data + 3, size - 3);

  BytesObject object;
  object.snapshot.acl.assign(acl.begin(), acl.end());
  object.snapshot.count = count;
  const x5::launch::AccessChange change =
      x5::launch::AddAccessEntries(object, kUser, x5::launch::kStationInheritedMask,
                                   (mode & 1) ? x5::launch::kStationMask : 0, mode & 2);
  if (change.text.empty()) {
    const std::vector<uint8_t>& written = object.written;
    Check(written.size() >= x5::launch::kAclHeaderSize && written.size() % 4 == 0);
    Check((written[2] | written[3] << 8) == static_cast<int>(written.size()));
    const uint16_t new_count = static_cast<uint16_t>(written[4] | written[5] << 8);
    Check(new_count == change.entry_count);
    const x5::launch::AccessListEntries entries = x5::launch::ReadAccessList(written, new_count);
    Check(!entries.damaged_entry && entries.entries.size() == new_count);
  }

  // The same bytes as a user environment block, read with a limit inside the input.
  std::u16string units(acl.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(acl[2 * i] | acl[2 * i + 1] << 8);
  const x5::launch::ByteBlockText text;
  const std::vector<std::string> read =
      x5::launch::ReadUserEnvironment(units.data(), text, units.size());
  size_t total = 0;
  for (const std::string& entry : read)
    total += entry.size() + 1;
  Check(total <= units.size());
  return 0;
}
