// Access of a logged-on user to the interactive window station "winsta0" and its desktop.
#include "launch/desktop_access_win.h"

#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "launch/access_list.h"
#include "launch/identity_win.h"
#include "win/unique_handle.h"

namespace x5::launch {
namespace {

std::string HandleValue(const void* handle) {
  return std::to_string(reinterpret_cast<uintptr_t>(handle));
}

// The discretionary list of a window station or desktop, through the user-object calls.
class UserObjectSecurity final : public ObjectSecurity {
 public:
  explicit UserObjectSecurity(HANDLE object) : object_(object) {}

  Snapshot ReadDacl() override {
    Snapshot snapshot;
    SECURITY_INFORMATION wanted = DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    if (GetUserObjectSecurity(object_, &wanted, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
      snapshot.failure = ReadFailure::kDescriptor;
      return snapshot;
    }
    // Pointer-aligned storage for the descriptor the system writes.
    std::vector<uintptr_t> storage((needed + sizeof(uintptr_t) - 1) / sizeof(uintptr_t));
    PSECURITY_DESCRIPTOR descriptor = storage.data();
    if (!GetUserObjectSecurity(object_, &wanted, descriptor,
                               static_cast<DWORD>(storage.size() * sizeof(uintptr_t)), &needed)) {
      snapshot.failure = ReadFailure::kDescriptor;
      return snapshot;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
      snapshot.failure = ReadFailure::kGetDacl;
      return snapshot;
    }
    if (!present || dacl == nullptr) {
      snapshot.failure = ReadFailure::kNoDacl;
      return snapshot;
    }
    ACL_SIZE_INFORMATION size{};
    if (!GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation) ||
        size.AclBytesInUse < sizeof(ACL) || size.AclBytesInUse > dacl->AclSize) {
      snapshot.failure = ReadFailure::kSizeInformation;
      return snapshot;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(dacl);
    snapshot.acl.assign(bytes, bytes + size.AclBytesInUse);
    snapshot.count = static_cast<uint16_t>(size.AceCount);
    return snapshot;
  }

  WriteFailure WriteDacl(std::span<const uint8_t> acl) override {
    // DWORD-aligned, as the system expects a list.
    std::vector<uint32_t> aligned((acl.size() + 3) / 4);
    std::memcpy(aligned.data(), acl.data(), acl.size());
    auto* list = reinterpret_cast<PACL>(aligned.data());
    if (!IsValidAcl(list))
      return WriteFailure::kInvalidList;
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
      return WriteFailure::kNewDescriptor;
    if (!SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
      return WriteFailure::kSetDacl;
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
    if (!SetUserObjectSecurity(object_, &what, &descriptor))
      return WriteFailure::kWrite;
    return WriteFailure::kNone;
  }

  std::string HandleText() const override { return HandleValue(object_); }

 private:
  HANDLE object_;
};

// Puts the runner back on its own window station when it goes; declared after the handles it
// may switch to, so it runs before they are closed (a process's station cannot be closed).
class ProcessWindowStationRestorer {
 public:
  explicit ProcessWindowStationRestorer(HWINSTA original) noexcept : original_(original) {}
  ProcessWindowStationRestorer(const ProcessWindowStationRestorer&) = delete;
  ProcessWindowStationRestorer& operator=(const ProcessWindowStationRestorer&) = delete;
  ~ProcessWindowStationRestorer() {
    if (switched_ && original_ != nullptr)
      SetProcessWindowStation(original_);
  }
  BOOL SwitchTo(HWINSTA station) noexcept {
    const BOOL done = SetProcessWindowStation(station);
    switched_ = switched_ || done != FALSE;
    return done;
  }

 private:
  HWINSTA original_;
  bool switched_ = false;
};

constexpr DWORD kStationAccess = READ_CONTROL | WRITE_DAC;  // 0x60000
constexpr DWORD kDesktopAccess =
    READ_CONTROL | WRITE_DAC | DESKTOP_WRITEOBJECTS | DESKTOP_READOBJECTS;  // 0x60081

void AddLine(std::string& text, const std::string& line) {
  if (!line.empty()) {
    text += line;
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)
      text += "\r\n";
  }
}

}  // namespace

std::string AddAccessEntries(HANDLE object,
                             StepIdentity& identity,
                             const std::string& account,
                             uint32_t mask1,
                             uint32_t mask2,
                             bool add) {
  try {
    if (!account.empty() && add && !LookupAccount(identity, account))
      return NoSidText(identity.lookup_text);
    // A failed lookup leaves no SID: no entry is built, the step starts all the same.
    if (add && !IsWellFormedSid(identity.account_sid))
      return NoSidText(identity.lookup_text);
    UserObjectSecurity security(object);
    AccessChange change =
        x5::launch::AddAccessEntries(security, identity.account_sid, mask1, mask2, add);
    if (change.entry_count >= 0)
      AddLine(change.text, "ACE Count for this File Is: " + std::to_string(change.entry_count));
    return change.text;
  } catch (const std::bad_alloc&) {
    return "0 Error: Unable to Initialize New ACL";
  }
}

std::string GrantDesktopAccess(StepIdentity& identity, const std::string& account, bool add) {
  try {
    std::string text;
    HWINSTA original = GetProcessWindowStation();
    AddLine(text, "GetProcessWindowStation=" + HandleValue(original));

    win::ScopedWindowStation station(OpenWindowStationA("winsta0", FALSE, kStationAccess));
    AddLine(text, "OpenWindowStation=" + HandleValue(station.get()));
    if (!station)
      return text;
    AddLine(text, AddAccessEntries(station.get(), identity, account, kStationInheritedMask,
                                   kStationMask, add));
    win::ScopedDesktop desktop;
    ProcessWindowStationRestorer restorer(original);
    // A desktop is opened within the process's window station: without the switch, "default"
    // would be the runner's own station's desktop.
    const BOOL switched = restorer.SwitchTo(station.get());
    AddLine(text, "SetProcessWindowStation=" + std::to_string(switched));
    if (!switched)
      return text;
    desktop.reset(OpenDesktopA("default", 0, FALSE, kDesktopAccess));
    AddLine(text, "OpenDesktop=" + HandleValue(desktop.get()));
    if (desktop) {
      AddLine(text, AddAccessEntries(desktop.get(), identity, account, kDesktopMask, 0, add));
    }
    return text;
  } catch (const std::bad_alloc&) {
    return "0 Error: out of memory";
  }
}

}  // namespace x5::launch
