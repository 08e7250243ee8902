// Access of a logged-on user to the interactive window station "winsta0" and its desktop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace x5::launch {

class StepIdentity;

// Rewrites the object's access list without the account's entries and, when `add` is set, appends
// the account's new ones (two for a window station, when `mask2` is not 0; one for a desktop).
// Uses the SID of the most recent lookup unless an account is given (then looks it up first).
// "" on success, else the failure's text; the object keeps its list on any failure.
std::string AddAccessEntries(HANDLE object,
                             StepIdentity& identity,
                             const std::string& account,
                             uint32_t mask1,
                             uint32_t mask2,
                             bool add);

// Gives the account access to "winsta0" and its desktop "default"; returns the steps' diagnostic
// lines. The runner's own window station is the one it had before, whatever happened.
std::string GrantDesktopAccess(StepIdentity& identity, const std::string& account, bool add);

}  // namespace x5::launch
