// quorel: record the default audio input, send a recording to the recognition service, or both.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "VantrelQuorelSpeech.h"
#include "recording.h"
#include "result_messages.h"
#include "service_answer.h"
#include "service_reachability.h"
#include "tool_files.h"
#include "tool_options.h"
#include "utf16_text.h"

namespace {

using namespace quorel::tool;

constexpr int kExitDone = 0;
constexpr int kExitLibraryFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitServiceRefused = 3;
constexpr int kExitOwnFileFailed = 4;

constexpr char kStandardStream[] = "-";  // standard output for record, standard input for send

// The service the library was built for, as its build told the tool's.
ServiceEndpoint BuiltInServiceEndpoint() {
  return {QUOREL_TOOL_SERVICE_HOST, QUOREL_TOOL_SERVICE_PORT, QUOREL_TOOL_CA_FILE,
          QUOREL_TOOL_ACCEPT_MISMATCHED_NAMES != 0};
}

int Complain(int exitCode, const std::string& message) {
  std::fprintf(stderr, "quorel: %s\n", message.c_str());
  return exitCode;
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
int RunRecord(const std::string& path, const std::string& shownName, double seconds, FILE* report) {
  std::u16string libraryPath;
  if (!ToLibraryText(path, "file name", &libraryPath)) return kExitUsage;
  const bool onTerminal = isatty(STDERR_FILENO) == 1;
  const RecordingResult result = Record(libraryPath, path, shownName, seconds, onTerminal);
  if (result.startCode != QUOREL_SUCCESS) {
    return Complain(kExitLibraryFailed, "cannot record: " + DescribeStartResult(result.startCode));
  }
  std::fprintf(report, "recorded %d bytes (%.2f s) to %s\n", result.dataBytes, result.Seconds(),
               shownName.c_str());
  return kExitDone;
}

// record -: the finished WAV goes to standard output, its report to standard error.
int RunRecordToStandardOutput(double seconds) {
  ScratchFile scratch(".wav");
  if (scratch.Path().empty()) return Complain(kExitOwnFileFailed, "cannot make a temporary file");
  if (const int recorded = RunRecord(scratch.Path(), "standard output", seconds, stderr)) {
    return recorded;
  }
  FILE* wave = std::fopen(scratch.Path().c_str(), "rb");
  const bool copied = wave != nullptr && CopyStream(wave, stdout);
  if (wave != nullptr) std::fclose(wave);
  return copied ? kExitDone
                : Complain(kExitOwnFileFailed, "cannot write the recording to standard output");
}

// Sends audioPath (called shownName in messages) and leaves the answer in answerPath.
int Send(const std::string& audioPath, const std::string& shownName, const std::string& key,
         const std::string& answerPath) {
  std::u16string audio, libraryKey, answer;
  if (!ToLibraryText(audioPath, "audio file name", &audio) ||
      !ToLibraryText(key, "key", &libraryKey) ||
      !ToLibraryText(answerPath, "answer file name", &answer)) {
    return kExitUsage;
  }
  const int32_t code =
      QuorelSpeech(LibraryText(audio), LibraryText(libraryKey), LibraryText(answer));
  if (code == QUOREL_SPEECH_BEGIN_FAILED) {
    return Complain(kExitLibraryFailed, "cannot send " + shownName + ": " +
                                            DescribeSpeechResult(code) + ": " +
                                            DiagnoseUnreachable(BuiltInServiceEndpoint()));
  }
  if (code != QUOREL_SUCCESS) {
    return Complain(kExitLibraryFailed,
                    "cannot send " + shownName + ": " + DescribeSpeechResult(code));
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

// The answer file given with --out must be writable before anything is recorded or sent.
int CheckAnswerPath(const ToolOptions& options) {
  if (options.answerPath.empty()) return kExitDone;
  const std::string why = WhyNotWritable(options.answerPath);
  return why.empty() ? kExitDone
                     : Complain(kExitOwnFileFailed,
                                "cannot write the answer file " + options.answerPath + ": " + why);
}

int RunSend(const ToolOptions& options) {
  if (const int unwritable = CheckAnswerPath(options)) return unwritable;
  ScratchFile scratch(".json");
  const std::string answerPath = options.answerPath.empty() ? scratch.Path() : options.answerPath;
  if (answerPath.empty()) return Complain(kExitOwnFileFailed, "cannot make a temporary file");
  // send -: standard input is spooled to a file, since the library sends a file.
  const bool fromInput = options.audioPath == kStandardStream;
  ScratchFile spool(".wav");
  if (fromInput) {
    FILE* file = spool.Path().empty() ? nullptr : std::fopen(spool.Path().c_str(), "wb");
    const bool copied = file != nullptr && CopyStream(stdin, file);
    if ((file != nullptr && std::fclose(file) != 0) || !copied)
      return Complain(kExitOwnFileFailed, "cannot store standard input for sending");
  }
  const std::string audioPath = fromInput ? spool.Path() : options.audioPath;
  const std::string shownName = fromInput ? "standard input" : options.audioPath;
  if (const int sent = Send(audioPath, shownName, options.key, answerPath)) return sent;
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
  if (const int unwritable = CheckAnswerPath(options)) return unwritable;
  if (const int recorded = RunRecord(wavePath, wavePath, options.seconds, stderr)) return recorded;
  if (const int sent = Send(wavePath, wavePath, options.key, answerPath)) return sent;
  std::string text;
  ServiceAnswer answer;
  if (const int verdict = ReadAnswer(answerPath, &text, &answer)) return verdict;
  if (answer.transcript.empty()) return Complain(kExitServiceRefused, "no speech was heard");
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
      std::printf("quorel %s\n%s", QUOREL_VERSION,
                  DescribeServiceEndpoint(BuiltInServiceEndpoint()).c_str());
      return kExitDone;
    case Command::kRecord:
      if (options.audioPath == kStandardStream) return RunRecordToStandardOutput(options.seconds);
      return RunRecord(options.audioPath, options.audioPath, options.seconds, stdout);
    case Command::kSend:
      return RunSend(options);
    case Command::kListen:
      return RunListen(options);
    case Command::kNone:
      break;
  }
  return kExitUsage;
}
