#include "end_to_end/spoken_input.h"

#include "support/common/child_process.h"
#include "support/common/test_process.h"

namespace quorel::test {

std::string SpokenInput::folder_;
// Every program that hears speech (and so links this file) gets its input for its whole run.
testing::Environment* const kRegistered = testing::AddGlobalTestEnvironment(new SpokenInput);

void SpokenInput::SetUp() {
  folder_ = scratch_.Path("pulse");
  const ChildResult started = RunChild({"bash", QUOREL_SPOKEN_INPUT_SCRIPT, "start", folder_});
  ASSERT_EQ(started.exitCode, 0) << started.err;
  ExportEnvironmentLines(started.out);
}

void SpokenInput::TearDown() {
  RunChild({"bash", QUOREL_SPOKEN_INPUT_SCRIPT, "stop", folder_});
}

ChildResult SpokenInput::Hear(const std::string& sentence, const std::string& wavePath,
                              const std::vector<std::string>& command, bool errorOnTerminal) {
  std::vector<std::string> arguments{"bash",  QUOREL_SPOKEN_INPUT_SCRIPT, "hear", folder_, sentence,
                                     wavePath};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return ChildProcess(arguments, errorOnTerminal).Finish();
}

}  // namespace quorel::test
