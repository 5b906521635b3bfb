// The default audio input as the tests need it: speech played into a private PulseAudio source
// (scripts/spoken-input.sh), its client environment set for this process and its children. A
// program that calls Hear has it set up before its first test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/common/child_process.h"
#include "support/portable/scratch_folder.h"

namespace quorel::test {

class SpokenInput : public testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  // Runs command (which records into wavePath), speaks sentence once the recording has begun
  // and ends the recording with SIGINT; the command's result. errorOnTerminal: as ChildProcess.
  static ChildResult Hear(const std::string& sentence, const std::string& wavePath,
                          const std::vector<std::string>& command, bool errorOnTerminal = false);

 private:
  ScratchFolder scratch_;  // holds the private daemon's folder until the environment ends
  static std::string folder_;
};

}  // namespace quorel::test
