// Access lists in their binary form: the entries that give a user the interactive window station
// and desktop, with the texts their changes report, and the list of a step process's descriptor.
#include "launch/access_list.h"

#include <algorithm>
#include <new>

namespace x5::launch {
namespace {

constexpr uint8_t kSidRevision = 1;
constexpr size_t kSidFixedSize = 8;
constexpr uint8_t kMaxSubAuthorities = 15;

uint16_t Read16(std::span<const uint8_t> bytes, size_t at) noexcept {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void Write16(std::vector<uint8_t>& bytes, size_t at, size_t value) noexcept {
  bytes[at] = static_cast<uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

// The entry types of a discretionary list whose SID follows the 4-byte mask.
bool HoldsPlainSid(uint8_t type) noexcept {
  return type == kAccessAllowedType || type == kAccessDeniedType ||
         type == 0x09 /* allowed, callback */ || type == 0x0A /* denied, callback */;
}

bool SameSid(std::span<const uint8_t> a, std::span<const uint8_t> b) noexcept {
  return !a.empty() && a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

size_t SidLength(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() < kSidFixedSize || bytes[0] != kSidRevision || bytes[1] > kMaxSubAuthorities)
    return 0;
  const size_t length = kSidFixedSize + 4u * bytes[1];
  return length <= bytes.size() ? length : 0;
}

bool IsWellFormedSid(std::span<const uint8_t> sid) noexcept {
  return !sid.empty() && SidLength(sid) == sid.size();
}

std::optional<uint32_t> NewAccessListSize(uint32_t old_bytes_in_use,
                                          size_t new_entries,
                                          size_t sid_length) noexcept {
  const uint64_t old_size = std::max<uint64_t>(old_bytes_in_use, kAclHeaderSize);
  if (new_entries > kMaxAclSize || sid_length > kMaxAclSize)
    return std::nullopt;
  const uint64_t entry_size = kAllowedEntryFixedSize + sid_length - 4;
  uint64_t size = old_size + new_entries * entry_size;
  size = (size + 3) & ~uint64_t{3};
  if (size > kMaxAclSize)
    return std::nullopt;
  return static_cast<uint32_t>(size);
}

std::span<const uint8_t> AccessEntryView::Sid() const noexcept {
  constexpr size_t kSidOffset = kAceHeaderSize + 4;
  if (!HoldsPlainSid(type) || bytes.size() <= kSidOffset)
    return {};
  const std::span<const uint8_t> rest = bytes.subspan(kSidOffset);
  const size_t length = SidLength(rest);
  return length == 0 ? std::span<const uint8_t>{} : rest.first(length);
}

AccessListEntries ReadAccessList(std::span<const uint8_t> acl, uint16_t declared_count) {
  AccessListEntries list;
  if (acl.size() < kAclHeaderSize) {
    list.damaged_entry = 0;
    return list;
  }
  list.revision = acl[0];
  list.entries.reserve(declared_count);
  size_t at = kAclHeaderSize;
  for (size_t i = 0; i < declared_count; ++i) {
    if (acl.size() - at < kAceHeaderSize) {
      list.damaged_entry = i;
      return list;
    }
    const size_t size = Read16(acl, at + 2);
    if (size < kAceHeaderSize || size > acl.size() - at) {
      list.damaged_entry = i;
      return list;
    }
    list.entries.push_back({acl[at], acl[at + 1], acl.subspan(at, size)});
    at += size;
  }
  return list;
}

AccessListBuilder::AccessListBuilder(uint32_t size, uint8_t revision)
    : bytes_(std::max<size_t>((std::min(size, kMaxAclSize) + 3) & ~3u, kAclHeaderSize), 0) {
  bytes_[0] = revision;
}

bool AccessListBuilder::AddEntry(std::span<const uint8_t> entry) {
  if (entry.size() < kAceHeaderSize || entry.size() > bytes_.size() - used_ || count_ == 0xFFFF)
    return false;
  std::copy(entry.begin(), entry.end(), bytes_.begin() + static_cast<ptrdiff_t>(used_));
  used_ += entry.size();
  ++count_;
  return true;
}

bool AccessListBuilder::AddAllowed(std::span<const uint8_t> sid, uint32_t mask, uint8_t flags) {
  if (!IsWellFormedSid(sid))
    return false;
  const size_t size = kAllowedEntryFixedSize - 4 + sid.size();
  if (size > bytes_.size() - used_ || count_ == 0xFFFF)
    return false;
  uint8_t* p = bytes_.data() + used_;
  p[0] = kAccessAllowedType;
  p[1] = flags;
  p[2] = static_cast<uint8_t>(size & 0xFF);
  p[3] = static_cast<uint8_t>(size >> 8);
  for (int i = 0; i < 4; ++i)
    p[4 + i] = static_cast<uint8_t>(mask >> (8 * i));
  std::copy(sid.begin(), sid.end(), p + 8);
  used_ += size;
  ++count_;
  return true;
}

std::vector<uint8_t> AccessListBuilder::Take() {
  Write16(bytes_, 2, bytes_.size());
  Write16(bytes_, 4, count_);
  return std::move(bytes_);
}

AccessChange AddAccessEntries(ObjectSecurity& object,
                              std::span<const uint8_t> sid,
                              uint32_t mask1,
                              uint32_t mask2,
                              bool add) {
  using ReadFailure = ObjectSecurity::ReadFailure;
  using WriteFailure = ObjectSecurity::WriteFailure;
  const bool station = mask2 != 0;
  try {
    const bool sid_usable = IsWellFormedSid(sid);
    // No entry is ever made from a SID that is not one.
    if (add && !sid_usable)
      return {station ? "0 Error: CopySid fail 0" : "0 Error: Unable to Add ACE/ACL to DACL"};

    ObjectSecurity::Snapshot old = object.ReadDacl();
    switch (old.failure) {
      case ReadFailure::kNone:
        break;
      case ReadFailure::kDescriptor:
        return {"Error: Unable to Get the Object Security Descriptor"};
      case ReadFailure::kGetDacl:
        return {"0 Error: Unable to Get DACL from File Security Descriptor"};
      case ReadFailure::kNoDacl:
        return {"0 Error: No ACL Information Available for this File"};
      case ReadFailure::kSizeInformation:
        return {"0 Error: Unable to Get ACL from File Security Descriptor"};
    }
    const int old_count = old.count;

    const size_t new_entries = add ? (station ? 2 : 1) : 0;
    const std::optional<uint32_t> size =
        NewAccessListSize(static_cast<uint32_t>(std::min<size_t>(old.acl.size(), kMaxAclSize)),
                          new_entries, sid_usable ? sid.size() : 0);
    const AccessListEntries entries = ReadAccessList(old.acl, old.count);
    if (!size)
      return {"0 Error: Unable to Initialize New ACL", old_count};
    // Object entries need the newer revision; keep whatever the old list had above 2.
    const uint8_t revision = std::clamp(entries.revision, kAclRevision, kAclRevisionDs);
    AccessListBuilder builder(*size, revision);

    for (size_t i = 0; i < old.count; ++i) {
      if (i >= entries.entries.size())
        return {"0 Error: Unable to Obtain ACE (" + std::to_string(i) + ")", old_count};
      const AccessEntryView& entry = entries.entries[i];
      if (sid_usable && SameSid(entry.Sid(), sid))
        continue;  // the user's earlier entries are replaced, not piled up
      if (!builder.AddEntry(entry.bytes))
        return {"0 Error: Unable to Add ACE to New ACL", old_count};
    }

    if (add && station) {
      std::string failed;
      if (!builder.AddAllowed(sid, mask1, kObjectInherit | kContainerInherit | kInheritOnly))
        failed = "0 Error: First AddAce1 failed 0";
      // A failed first entry does not stop the second.
      if (!builder.AddAllowed(sid, mask2, kNoPropagateInherit))
        failed += (failed.empty() ? "" : "\r\n") + std::string("0 Error: Second AddAce2 failed 0");
      if (!failed.empty())
        return {failed, old_count};
    } else if (add && !builder.AddAllowed(sid, mask1, 0)) {
      return {"0 Error: Unable to Add ACE/ACL to DACL", old_count};
    }

    const int new_count = builder.Count();
    const std::vector<uint8_t> acl = builder.Take();
    switch (object.WriteDacl(acl)) {
      case WriteFailure::kNone:
        return {"", new_count};
      case WriteFailure::kInvalidList:
        return {"0 Error: Unable to Initialize New ACL", old_count};
      case WriteFailure::kNewDescriptor:
        return {"0 Error: Unable to Initialize New Security Descriptor", old_count};
      case WriteFailure::kSetDacl:
        return {"0 Error: Unable to Set New DACL to Security Descriptor", old_count};
      case WriteFailure::kWrite:
        return {"0 Error: Unable to Set New Security Descriptor " + object.HandleText(), old_count};
    }
    return {"0 Error: Unable to Set New Security Descriptor " + object.HandleText(), old_count};
  } catch (const std::bad_alloc&) {
    return {"0 Error: Unable to Initialize New ACL"};
  }
}

std::string NoSidText(const std::string& lookup_text) {
  return "0 GetSID:" + lookup_text;
}

std::vector<uint8_t> OwnersOnlyAccessList(std::span<const std::vector<uint8_t>> sids,
                                          uint32_t mask) {
  std::vector<std::span<const uint8_t>> chosen;
  size_t size = kAclHeaderSize;
  for (const std::vector<uint8_t>& sid : sids) {
    if (!IsWellFormedSid(sid))
      continue;
    const bool seen = std::any_of(chosen.begin(), chosen.end(),
                                  [&](std::span<const uint8_t> c) { return SameSid(c, sid); });
    if (seen)
      continue;
    chosen.emplace_back(sid);
    size += kAllowedEntryFixedSize - 4 + sid.size();
  }
  AccessListBuilder builder(static_cast<uint32_t>(std::min<size_t>(size, kMaxAclSize)));
  for (std::span<const uint8_t> sid : chosen) {
    if (!builder.AddAllowed(sid, mask, 0))
      break;
  }
  return builder.Take();
}

}  // namespace x5::launch
