// quorel: record the default audio input, send a recording to the recognition service, or both.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "VantrelQuorelSpeech.h"
#include "recording.h"
#include "result_messages.h"
#include "service_answer.h"
#include "tool_options.h"
#include "utf16_text.h"

namespace {

using namespace quorel::tool;

constexpr int kExitDone = 0;
constexpr int kExitLibraryFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitServiceRefused = 3;
constexpr int kExitOwnFileFailed = 4;

int Complain(int exitCode, const std::string& message) {
  std::fprintf(stderr, "quorel: %s\n", message.c_str());
  return exitCode;
}

// A temporary file that is removed again unless kept.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix) {
    const char* base = getenv("TMPDIR");
    path_ =
        std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/quorel-XXXXXX" + suffix;
    const int fd = mkstemps(path_.data(), static_cast<int>(std::string(suffix).size()));
    if (fd < 0) {
      path_.clear();
    } else {
      close(fd);
    }
  }
  ~ScratchFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

// Converts for the library, or explains why it cannot.
bool ToLibraryText(const std::string& text, const char* what, std::u16string* out) {
  if (Utf8ToUtf16(text, out)) return true;
  Complain(kExitUsage, std::string("the ") + what + " is not valid UTF-8 text");
  return false;
}

const QuorelChar* LibraryText(const std::u16string& text) {
  return reinterpret_cast<const QuorelChar*>(text.c_str());
}

// report receives the bytes and seconds recorded: the result of record, a note for listen.
int RunRecord(const std::string& path, double seconds, FILE* report) {
  std::u16string libraryPath;
  if (!ToLibraryText(path, "file name", &libraryPath)) return kExitUsage;
  const bool onTerminal = isatty(STDERR_FILENO) == 1;
  const RecordingResult result = Record(libraryPath, path, seconds, onTerminal);
  if (result.startCode != QUOREL_SUCCESS) {
    return Complain(kExitLibraryFailed, "cannot record: " + DescribeStartResult(result.startCode));
  }
  std::fprintf(report, "recorded %d bytes (%.2f s) to %s\n", result.dataBytes, result.Seconds(),
               path.c_str());
  return kExitDone;
}

// Sends audioPath and leaves the answer in answerPath.
int Send(const std::string& audioPath, const std::string& key, const std::string& answerPath) {
  std::u16string audio, libraryKey, answer;
  if (!ToLibraryText(audioPath, "audio file name", &audio) ||
      !ToLibraryText(key, "key", &libraryKey) ||
      !ToLibraryText(answerPath, "answer file name", &answer)) {
    return kExitUsage;
  }
  const int32_t code =
      QuorelSpeech(LibraryText(audio), LibraryText(libraryKey), LibraryText(answer));
  if (code != QUOREL_SUCCESS) {
    return Complain(kExitLibraryFailed,
                    "cannot send " + audioPath + ": " + DescribeSpeechResult(code));
  }
  return kExitDone;
}

// The stored answer: kExitDone with its transcript, or why there is none.
int ReadAnswer(const std::string& answerPath, std::string* text, ServiceAnswer* answer) {
  if (!ReadWhole(answerPath, text)) {
    return Complain(kExitOwnFileFailed, "cannot read the answer in " + answerPath);
  }
  *answer = ReadServiceAnswer(*text);
  if (answer->isError) {
    return Complain(kExitServiceRefused, "the service refused: " + answer->errorMessage);
  }
  if (!answer->understood) {
    return Complain(kExitServiceRefused, "the service's answer holds no transcript");
  }
  return kExitDone;
}

int RunSend(const ToolOptions& options) {
  ScratchFile scratch(".json");
  const std::string answerPath = options.answerPath.empty() ? scratch.Path() : options.answerPath;
  if (answerPath.empty()) return Complain(kExitOwnFileFailed, "cannot make a temporary file");
  if (const int sent = Send(options.audioPath, options.key, answerPath)) return sent;
  std::string text;
  ServiceAnswer answer;
  const int verdict = ReadAnswer(answerPath, &text, &answer);
  if (options.answerPath.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else if (verdict == kExitDone) {
    std::printf("answer (%zu bytes) written to %s\n", text.size(), answerPath.c_str());
  }
  return verdict;
}

int RunListen(const ToolOptions& options) {
  ScratchFile scratchWave(".wav");
  ScratchFile scratchAnswer(".json");
  const std::string wavePath = options.audioPath.empty() ? scratchWave.Path() : options.audioPath;
  const std::string answerPath =
      options.answerPath.empty() ? scratchAnswer.Path() : options.answerPath;
  if (wavePath.empty() || answerPath.empty()) {
    return Complain(kExitOwnFileFailed, "cannot make a temporary file");
  }
  if (const int recorded = RunRecord(wavePath, options.seconds, stderr)) return recorded;
  if (const int sent = Send(wavePath, options.key, answerPath)) return sent;
  std::string text;
  ServiceAnswer answer;
  if (const int verdict = ReadAnswer(answerPath, &text, &answer)) return verdict;
  std::printf("%s\n", answer.transcript.c_str());
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  ToolOptions options;
  std::string problem;
  if (!ParseToolOptions(argc, argv, &options, &problem)) {
    std::fprintf(stderr, "quorel: %s\nTry 'quorel --help'.\n", problem.c_str());
    return kExitUsage;
  }
  switch (options.command) {
    case Command::kHelp:
      std::fputs(kToolUsage, stdout);
      return kExitDone;
    case Command::kVersion:
      std::printf("quorel %s\n", QUOREL_VERSION);
      return kExitDone;
    case Command::kRecord:
      return RunRecord(options.audioPath, options.seconds, stdout);
    case Command::kSend:
      return RunSend(options);
    case Command::kListen:
      return RunListen(options);
    case Command::kNone:
      break;
  }
  return kExitUsage;
}
