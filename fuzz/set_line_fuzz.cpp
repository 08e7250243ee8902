// Fuzzes the variables block: SET/SETP line parsing, step variables and the global parameter
// files they write. First byte chooses the list delimiter, the rest is the block.
#include "variables/testing/test_fakes.h"
#include "variables/variables.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16)
    return 0;
  const char delimiter = data[0] < 32 ? static_cast<char>(data[0]) : ';';
  const std::string block = x5::fuzz::Text(data, size, 1);

  // The parse loop always moves forward and ends.
  const std::string lines = x5::variables::VariablesBlockLines(block, delimiter);
  int32_t position = 1;
  for (;;) {
    const x5::variables::SetLineResult r = x5::variables::ParseSetLine(position, lines);
    Check(r.next == -1 || r.next == 0 || r.next > position);
    if (r.next <= 0)
      break;
    position = r.next;
  }
  (void)x5::variables::ParameterFileValue(block);

  x5::variables::testing::FakeRun run;
  run.task.job_base_directory = "C:\\Jobs\\";
  run.task.job_name = "J";
  run.task.step_directory = "S";
  run.SetBlock(block, delimiter);
  (void)x5::variables::SetStepVariables(run.context);

  // Whatever the names, every file written stays a plain name inside the step's directory.
  const std::string dir = "C:\\Jobs\\J\\S\\";
  for (const auto& [path, content] : run.files.files) {
    Check(path.compare(0, dir.size(), dir) == 0);
    const std::string name = path.substr(dir.size());
    Check(name.find_first_of("\\/:") == std::string::npos);
    Check(name.find("..") == std::string::npos);
    Check(x5::variables::GlobalParameterNameProblem(name.substr(0, name.size() - 4)).empty());
    Check(content.size() >= 4 && content.front() == '"' && content.ends_with("\"\r\n"));
  }
  return 0;
}
