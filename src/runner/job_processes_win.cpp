// The process ids of the step's job object, as the thread control and the end-of-job cleanup
// read them.
#include "runner/job_processes_win.h"

#include <algorithm>
#include <new>

namespace x5::runner {

DWORD QueryJobIds(HANDLE job, size_t room, std::vector<uint32_t>& ids, DWORD& assigned) {
  constexpr size_t kHeader = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
  constexpr size_t kWord = sizeof(ULONG_PTR);
  const size_t bytes = kHeader + std::max<size_t>(room, 1) * kWord;
  std::vector<ULONG_PTR> buffer((bytes + kWord - 1) / kWord, 0);
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
  assigned = 0;
  ids.clear();
  BOOL ok = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                      static_cast<DWORD>(bytes), nullptr);
  DWORD error = ok ? 0 : GetLastError();
  assigned = list->NumberOfAssignedProcesses;
  if (!ok)
    return error == 0 ? ERROR_GEN_FAILURE : error;
  const size_t count = std::min<size_t>(list->NumberOfProcessIdsInList, room);
  ids.reserve(count);
  for (size_t i = 0; i < count; ++i)
    ids.push_back(static_cast<uint32_t>(list->ProcessIdList[i]));
  return 0;
}

core::Result<std::vector<uint32_t>> ReadJobProcessIds(HANDLE job) noexcept {
  try {
    std::vector<uint32_t> ids;
    DWORD assigned = 0;
    DWORD error = QueryJobIds(job, 1, ids, assigned);
    // Processes may join between two reads: ask again with the new count, a few times.
    for (int attempt = 0; error == ERROR_MORE_DATA && attempt < 4; ++attempt)
      error = QueryJobIds(job, size_t{assigned} + 8, ids, assigned);
    if (error != 0)
      return core::Failure{"the job's processes cannot be listed", error};
    return ids;
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
}

}  // namespace x5::runner
