// The calling convention of the profile library dvup.dll, shared by the library and the runner.
#pragma once

#include <windows.h>

#include <profinfo.h>

#include <cstddef>
#include <cstdint>

namespace x5::launch {

inline constexpr char kProfileLibraryName[] = "dvup.dll";
inline constexpr char kProfileEntryName[] = "UsProf";

inline constexpr uint8_t kProfileLoad = 1;
inline constexpr uint8_t kProfileUnload = 2;
// Size of the message buffer every call gets; the library writes a NUL-ended text into it.
inline constexpr size_t kProfileMessageSize = 1000;

// mode, the userenv.dll module, the logon token, the slot of the user's environment block (filled
// by a load, handed back to the unload), the profile information (its profile handle filled by a
// load) and the message buffer. 1 or more is success; a failure is 0 or a negated system error.
using UsProfFunction = int32_t(WINAPI*)(uint8_t mode,
                                        HMODULE userenv,
                                        HANDLE token,
                                        void** environment,
                                        PROFILEINFOA* profile,
                                        char* message);

}  // namespace x5::launch
