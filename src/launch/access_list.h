// Access lists in their binary form: the entries that give a user the interactive window station
// and desktop, with the texts their changes report, and the list of a step process's descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace x5::launch {

inline constexpr uint8_t kAclRevision = 2;
inline constexpr uint8_t kAclRevisionDs = 4;  // lists that hold object entries
inline constexpr uint8_t kAccessAllowedType = 0;
inline constexpr uint8_t kAccessDeniedType = 1;
inline constexpr size_t kAclHeaderSize = 8;
inline constexpr size_t kAceHeaderSize = 4;
// An access-allowed entry is 12 bytes with a 4-byte placeholder where its SID starts.
inline constexpr size_t kAllowedEntryFixedSize = 12;
// The list's size is a 16-bit field and stays a multiple of 4.
inline constexpr uint32_t kMaxAclSize = 0xFFFC;

// Entry flags.
inline constexpr uint8_t kObjectInherit = 0x01;
inline constexpr uint8_t kContainerInherit = 0x02;
inline constexpr uint8_t kNoPropagateInherit = 0x04;
inline constexpr uint8_t kInheritOnly = 0x08;

// Access masks of the interactive window station and desktop entries.
inline constexpr uint32_t kStationInheritedMask = 0xF0000000;  // generic read/write/execute/all
inline constexpr uint32_t kStationMask = 0x000F037F;           // all station rights
inline constexpr uint32_t kDesktopMask = 0x000F01FF;           // all desktop rights

// The length of the SID at the start of `bytes` (8 + 4 per sub-authority), or 0 when the bytes
// do not hold a well-formed SID there.
[[nodiscard]] size_t SidLength(std::span<const uint8_t> bytes) noexcept;
// True when the bytes are exactly one well-formed SID.
[[nodiscard]] bool IsWellFormedSid(std::span<const uint8_t> sid) noexcept;

// The new list's size: the old list's bytes in use plus one access-allowed entry per new entry
// (12 bytes + SID length - 4 each); nullopt when that does not fit a list.
[[nodiscard]] std::optional<uint32_t> NewAccessListSize(uint32_t old_bytes_in_use,
                                                        size_t new_entries,
                                                        size_t sid_length) noexcept;

// One entry of a list: its type, flags and whole bytes.
struct AccessEntryView {
  uint8_t type = 0;
  uint8_t flags = 0;
  std::span<const uint8_t> bytes;
  // The entry's SID for the entry types that hold one right after the mask; empty otherwise.
  std::span<const uint8_t> Sid() const noexcept;
};

// The entries of a list's bytes (header first). nullopt, with the index of the first entry that
// does not lie whole inside the list, when the list is damaged.
struct AccessListEntries {
  uint8_t revision = 0;
  std::vector<AccessEntryView> entries;
  std::optional<size_t> damaged_entry;
};
[[nodiscard]] AccessListEntries ReadAccessList(std::span<const uint8_t> acl,
                                               uint16_t declared_count);

// Builds a list of a fixed size, as the platform's list calls do.
class AccessListBuilder {
 public:
  explicit AccessListBuilder(uint32_t size, uint8_t revision = kAclRevision);
  // Copies an entry as it is; false when it does not fit.
  [[nodiscard]] bool AddEntry(std::span<const uint8_t> entry);
  // Appends an access-allowed entry; false for a malformed SID or when it does not fit.
  [[nodiscard]] bool AddAllowed(std::span<const uint8_t> sid, uint32_t mask, uint8_t flags);
  uint16_t Count() const noexcept { return count_; }
  // The finished list: header with revision, size and count, the entries, zeros after them.
  [[nodiscard]] std::vector<uint8_t> Take();

 private:
  std::vector<uint8_t> bytes_;
  size_t used_ = kAclHeaderSize;
  uint16_t count_ = 0;
};

// A window station's or desktop's discretionary list, read and written by the platform.
class ObjectSecurity {
 public:
  enum class ReadFailure { kNone, kDescriptor, kGetDacl, kNoDacl, kSizeInformation };
  enum class WriteFailure { kNone, kInvalidList, kNewDescriptor, kSetDacl, kWrite };
  struct Snapshot {
    ReadFailure failure = ReadFailure::kNone;
    std::vector<uint8_t> acl;  // the bytes in use
    uint16_t count = 0;
  };
  virtual ~ObjectSecurity() = default;
  [[nodiscard]] virtual Snapshot ReadDacl() = 0;
  [[nodiscard]] virtual WriteFailure WriteDacl(std::span<const uint8_t> acl) = 0;
  // The object's handle as the texts show it.
  virtual std::string HandleText() const = 0;
};

struct AccessChange {
  std::string text;      // "" when the list was written
  int entry_count = -1;  // entries of the list as it now stands; -1 when unknown
};

// Rewrites the object's list without the entries of `sid` and, when `add` is set, appends the
// user's entries: with `mask2` not 0, `mask1` with inherit flags 0x0B then `mask2` with 0x04 (a
// window station); otherwise one entry of `mask1` without flags (a desktop). The object keeps its
// list whenever a failure comes before the write.
[[nodiscard]] AccessChange AddAccessEntries(ObjectSecurity& object,
                                            std::span<const uint8_t> sid,
                                            uint32_t mask1,
                                            uint32_t mask2,
                                            bool add);

// The text of a change that could not start because the account had no usable SID.
std::string NoSidText(const std::string& lookup_text);

// A list that gives `mask` to each well-formed SID once, and nothing to anyone else.
[[nodiscard]] std::vector<uint8_t> OwnersOnlyAccessList(std::span<const std::vector<uint8_t>> sids,
                                                        uint32_t mask);

}  // namespace x5::launch
