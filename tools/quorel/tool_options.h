// quorel's command line: one command and its options.
#pragma once

#include <string>

namespace quorel::tool {

enum class Command { kNone, kRecord, kSend, kListen, kHelp, kVersion };

struct ToolOptions {
  Command command = Command::kNone;
  std::string audioPath;   // record's OUT.wav, send's AUDIO.wav, listen's --wav
  std::string key;         // --key, or QUOREL_KEY from the environment
  std::string answerPath;  // --out
  double seconds = 0;      // --seconds; 0 for no limit
};

// False with the reason for a command line that cannot be followed.
bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* problem);

extern const char kToolUsage[];

}  // namespace quorel::tool
