// Tests of access-list building: SIDs, sizes, the user's entries and every failure text.
#include "launch/access_list.h"

#include <gtest/gtest.h>

namespace x5::launch {
namespace {

using Bytes = std::vector<uint8_t>;

void PutLittleEndian(Bytes& into, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    into.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes Sid(std::initializer_list<uint32_t> sub_authorities) {
  Bytes sid = {1, static_cast<uint8_t>(sub_authorities.size()), 0, 0, 0, 0, 0, 5};
  for (uint32_t s : sub_authorities)
    PutLittleEndian(sid, s);
  return sid;
}

const Bytes kSystem = Sid({18});
const Bytes kAdmins = Sid({32, 544});
const Bytes kUser = Sid({21, 1, 2, 3, 1001});
// An object entry: no plain SID after its mask.
const Bytes kObjectEntry = {0x05, 0, 12, 0, 1, 0, 0, 0, 0, 0, 0, 0};

Bytes Entry(uint8_t type, uint8_t flags, uint32_t mask, const Bytes& sid) {
  Bytes entry = {type, flags, static_cast<uint8_t>(8 + sid.size()), 0};
  PutLittleEndian(entry, mask);
  entry.insert(entry.end(), sid.begin(), sid.end());
  return entry;
}

Bytes Allowed(uint32_t mask, const Bytes& sid) {
  return Entry(kAccessAllowedType, 0, mask, sid);
}

Bytes List(const std::vector<Bytes>& entries, uint8_t revision = kAclRevision) {
  size_t size = kAclHeaderSize;
  for (const Bytes& e : entries)
    size += e.size();
  AccessListBuilder b(static_cast<uint32_t>(size), revision);
  for (const Bytes& e : entries)
    EXPECT_TRUE(b.AddEntry(e));
  return b.Take();
}

// The entries of a list as their bytes.
std::vector<Bytes> Entries(const Bytes& acl) {
  std::vector<Bytes> out;
  for (const AccessEntryView& e : ReadAccessList(acl, acl[4] | acl[5] << 8).entries)
    out.emplace_back(e.bytes.begin(), e.bytes.end());
  return out;
}

struct FakeObject final : ObjectSecurity {
  Snapshot snapshot;
  WriteFailure write_result = WriteFailure::kNone;
  std::optional<Bytes> written;

  explicit FakeObject(const Bytes& acl) { Take(acl); }
  void Take(const Bytes& acl) {
    snapshot.acl = acl;
    snapshot.count = static_cast<uint16_t>(acl[4] | acl[5] << 8);
  }
  Snapshot ReadDacl() override { return snapshot; }
  WriteFailure WriteDacl(std::span<const uint8_t> acl) override {
    if (write_result == WriteFailure::kNone)
      Take(*(written = Bytes(acl.begin(), acl.end())));
    return write_result;
  }
  std::string HandleText() const override { return "92"; }
};

TEST(AccessListSize, OldBytesPlusOneAllowedEntryPerNewEntry) {
  struct Case {
    uint32_t old_bytes;
    size_t entries, sid;
    std::optional<uint32_t> expected;
  } cases[] = {
      {28, 2, 28, 28 + 2 * (12 + 28 - 4)}, {30, 0, 12, 32},          // kept a multiple of 4
      {0xFFF0, 1, 12, std::nullopt},       {0xFFD8, 1, 28, 0xFFFC},  // just fits
      {8, 0x20000, 12, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NewAccessListSize(c.old_bytes, c.entries, c.sid), c.expected) << c.old_bytes;
}

// Run twice, as by two launches: the user's old entries are replaced, never piled up.
TEST(AccessEntries, StationGetsTwoEntriesAndTheUsersOldOnesAreReplaced) {
  FakeObject station(
      List({Allowed(0x37F, kSystem), Allowed(0x1, kUser), Entry(kAccessDeniedType, 0, 0x2, kAdmins),
            Entry(kAccessDeniedType, 0, 0x4, kUser)}));
  for (int launch = 0; launch < 2; ++launch) {
    const AccessChange change =
        AddAccessEntries(station, kUser, kStationInheritedMask, kStationMask, true);
    EXPECT_EQ(change.text, "");
    EXPECT_EQ(change.entry_count, 4);
    ASSERT_TRUE(station.written);
    EXPECT_EQ(
        Entries(*station.written),
        (std::vector<Bytes>{Allowed(0x37F, kSystem), Entry(kAccessDeniedType, 0, 0x2, kAdmins),
                            Entry(kAccessAllowedType, 0x0B, kStationInheritedMask, kUser),
                            Entry(kAccessAllowedType, 0x04, kStationMask, kUser)}))
        << "launch " << launch;
  }
}

// A desktop keeps its list's revision and entries without a plain SID; the user's one entry is
// added, and taken away again without a new one.
TEST(AccessEntries, DesktopEntryIsAddedAndTakenAwayAgain) {
  FakeObject desktop(
      List({kObjectEntry, Allowed(0x1FF, kSystem), Allowed(0x1, kUser)}, kAclRevisionDs));
  EXPECT_EQ(AddAccessEntries(desktop, kUser, kDesktopMask, 0, true).entry_count, 3);
  EXPECT_EQ(Entries(*desktop.written), (std::vector<Bytes>{kObjectEntry, Allowed(0x1FF, kSystem),
                                                           Allowed(kDesktopMask, kUser)}));
  const AccessChange change = AddAccessEntries(desktop, kUser, kDesktopMask, 0, false);
  EXPECT_EQ(change.text, "");
  EXPECT_EQ(change.entry_count, 2);
  EXPECT_EQ(Entries(*desktop.written), (std::vector<Bytes>{kObjectEntry, Allowed(0x1FF, kSystem)}));
  EXPECT_EQ((*desktop.written)[0], kAclRevisionDs);
}

// Damaged and oversized lists and failed calls: the old list stays as it was.
TEST(AccessEntries, FailureTextsLeaveTheOldList) {
  using R = ObjectSecurity::ReadFailure;
  using W = ObjectSecurity::WriteFailure;
  using Damage = void (*)(ObjectSecurity::Snapshot&);
  const struct {
    R read;
    W write;
    const char* text;
    Bytes sid = kUser;
    uint32_t mask2 = kStationMask;
    Damage damage = [](ObjectSecurity::Snapshot&) {};
  } cases[] = {
      {R::kDescriptor, W::kNone, "Error: Unable to Get the Object Security Descriptor"},
      {R::kGetDacl, W::kNone, "0 Error: Unable to Get DACL from File Security Descriptor"},
      {R::kNoDacl, W::kNone, "0 Error: No ACL Information Available for this File"},
      {R::kSizeInformation, W::kNone, "0 Error: Unable to Get ACL from File Security Descriptor"},
      {R::kNone, W::kInvalidList, "0 Error: Unable to Initialize New ACL"},
      {R::kNone, W::kNewDescriptor, "0 Error: Unable to Initialize New Security Descriptor"},
      {R::kNone, W::kSetDacl, "0 Error: Unable to Set New DACL to Security Descriptor"},
      {R::kNone, W::kWrite, "0 Error: Unable to Set New Security Descriptor 92"},
      {R::kNone, W::kNone, "0 Error: CopySid fail 0", {}},
      {R::kNone, W::kNone, "0 Error: Unable to Add ACE/ACL to DACL", {1, 1, 0}, 0},
      // More entries declared than held; an entry's size past the end; no room for two more.
      {R::kNone, W::kNone, "0 Error: Unable to Obtain ACE (1)", kUser, kStationMask,
       [](ObjectSecurity::Snapshot& s) { s.count = 3; }},
      {R::kNone, W::kNone, "0 Error: Unable to Obtain ACE (0)", kUser, kStationMask,
       [](ObjectSecurity::Snapshot& s) { s.acl[kAclHeaderSize + 2] = 200; }},
      {R::kNone, W::kNone, "0 Error: Unable to Initialize New ACL", kUser, kStationMask,
       [](ObjectSecurity::Snapshot& s) { s.acl.resize(kMaxAclSize - 16); }},
  };
  for (const auto& c : cases) {
    FakeObject object(List({Allowed(1, kSystem)}));
    object.snapshot.failure = c.read;
    object.write_result = c.write;
    c.damage(object.snapshot);
    EXPECT_EQ(AddAccessEntries(object, c.sid, kStationInheritedMask, c.mask2, true).text, c.text);
    EXPECT_FALSE(object.written) << c.text;
  }
  EXPECT_EQ(NoSidText("0 Error: Unable to Lookup the Current User Account: bob"),
            "0 GetSID:0 Error: Unable to Lookup the Current User Account: bob");
}

// Damaged SIDs (cut, too many parts, empty) are left out.
TEST(OwnersOnlyList, EachWellFormedSidOnceWithTheMask) {
  const Bytes too_many = Sid({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const std::vector<Bytes> sids = {kUser, kSystem, kUser, Bytes{1, 2}, kAdmins, too_many, {}};
  EXPECT_EQ(
      OwnersOnlyAccessList(sids, 0x1FFFFF),
      List({Allowed(0x1FFFFF, kUser), Allowed(0x1FFFFF, kSystem), Allowed(0x1FFFFF, kAdmins)}));
}

}  // namespace
}  // namespace x5::launch
