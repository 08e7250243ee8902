// Bare references for the pipe benchmarks: "ready" writes one byte and ends (a bare start);
// "echo" answers every 8 bytes read with 80 bytes, like a runner answering STAT; "echo-calls JOB
// PROCESS FILE" also makes the system calls a runner makes for each STAT (is the step still
// running, the job's two accounting queries, the look for a picture request),
// on inherited handles of a step in a job, so that what a runner adds beyond them shows (FILE
// "-": no look for a picture request).
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD n = 0;
  const bool calls = argc > 4 && std::strcmp(argv[1], "echo-calls") == 0;
  if (calls || (argc > 1 && std::strcmp(argv[1], "echo") == 0)) {
    HANDLE job = calls ? reinterpret_cast<HANDLE>(std::strtoull(argv[2], nullptr, 10)) : nullptr;
    HANDLE process =
        calls ? reinterpret_cast<HANDLE>(std::strtoull(argv[3], nullptr, 10)) : nullptr;
    char command[8];
    char report[80] = {};
    for (;;) {
      if (calls)
        (void)WaitForSingleObject(process, 0);
      DWORD got = 0;
      while (got < sizeof(command)) {
        if (!ReadFile(in, command + got, sizeof(command) - got, &n, nullptr) || n == 0)
          return 0;
        got += n;
      }
      if (calls) {
        JOBOBJECT_BASIC_AND_IO_ACCOUNTING_INFORMATION both{};
        QueryInformationJobObject(job, JobObjectBasicAndIoAccountingInformation, &both, sizeof both,
                                  nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION extended{};
        QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &extended,
                                  sizeof extended, nullptr);
        report[0] = static_cast<char>(both.BasicInfo.TotalProcesses);
      }
      WriteFile(out, report, sizeof(report), &n, nullptr);
      if (calls && std::strcmp(argv[4], "-") != 0)
        (void)GetFileAttributesA(argv[4]);
    }
  }
  char ready = 'R';
  WriteFile(out, &ready, 1, &n, nullptr);
  return 0;
}
