// The process ids of the step's job object, as the thread control and the end-of-job cleanup
// read them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/result.h"

namespace x5::runner {

// The job's process ids, read with room for `room` ids. Returns 0 with the ids, or the system
// error code (ERROR_MORE_DATA with `assigned` set when the room was too small).
DWORD QueryJobIds(HANDLE job, size_t room, std::vector<uint32_t>& ids, DWORD& assigned);

// Every process id in the job: asks with room for one, then with room for as many as the job says
// it has (and again if processes joined meanwhile).
core::Result<std::vector<uint32_t>> ReadJobProcessIds(HANDLE job) noexcept;

}  // namespace x5::runner
