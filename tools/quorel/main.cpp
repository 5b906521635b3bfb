// quorel: record the default audio input, send a recording to the recognition service, or both.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
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

// The one table of exit statuses, shown by --help and the README.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitServiceRefused = 3;
constexpr int kExitFileFailed = 4;
constexpr int kExitNoSpeech = 5;

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

// A file the user named must be writable before anything is recorded or sent; no name passes.
int CheckWritable(const std::string& path, const char* what) {
  const std::string why = path.empty() ? "" : WhyNotWritable(path);
  return why.empty() ? kExitDone
                     : Complain(kExitFileFailed,
                                std::string("cannot write the ") + what + " " + path + ": " + why);
}

// report receives the bytes and seconds recorded: the result of record, a note for listen.
int RunRecord(const std::string& path, const std::string& shownName, double seconds, FILE* report) {
  std::u16string libraryPath;
  if (!ToLibraryText(path, "file name", &libraryPath)) return kExitUsage;
  const bool onTerminal = isatty(STDERR_FILENO) == 1;
  const RecordingResult result = Record(libraryPath, path, shownName, seconds, onTerminal);
  if (result.startCode != QUOREL_SUCCESS) {
    return Complain(kExitFailed, "cannot record: " + DescribeStartResult(result.startCode));
  }
  std::fprintf(report, "recorded %d bytes (%.2f s) to %s\n", result.dataBytes, result.Seconds(),
               shownName.c_str());
  return kExitDone;
}

// record -: the finished WAV goes to standard output, its report to standard error.
int RunRecordToStandardOutput(double seconds) {
  if (isatty(STDOUT_FILENO) == 1) {
    return Complain(kExitUsage,
                    "record - writes the WAV to standard output, which is a terminal: "
                    "redirect it (quorel record - > OUT.wav) or name a file");
  }
  ScratchFile scratch(".wav");
  if (scratch.Path().empty()) return Complain(kExitFileFailed, "cannot make a temporary file");
  if (const int recorded = RunRecord(scratch.Path(), "standard output", seconds, stderr)) {
    return recorded;
  }
  FILE* wave = std::fopen(scratch.Path().c_str(), "rb");
  const bool copied = wave != nullptr && CopyStream(wave, stdout);
  if (wave != nullptr) std::fclose(wave);
  return copied ? kExitDone
                : Complain(kExitFileFailed, "cannot write the recording to standard output");
}

// The codes after which the service may have answered: the request went out whole, or the
// service answered early and stopped it.
bool MayHoldAnAnswer(int32_t code) {
  return code == QUOREL_SUCCESS || code == QUOREL_SPEECH_HEAD_SEND_FAILED ||
         code == QUOREL_SPEECH_AUDIO_SEND_FAILED || code == QUOREL_SPEECH_TAIL_SEND_FAILED ||
         code == QUOREL_SPEECH_NO_ANSWER;
}

// Sends audioPath (called shownName in messages); kExitDone with the answer read, or why there
// is none. text receives whatever answer the library stored. The library stores it in a fresh
// temporary file, so that a file left by an earlier run is never taken for this one's answer.
int Send(const std::string& audioPath, const std::string& shownName, const std::string& key,
         std::string* text, ServiceAnswer* answer) {
  const ScratchFile answerFile(".json");
  const std::string& answerPath = answerFile.Path();
  if (answerPath.empty()) return Complain(kExitFileFailed, "cannot make a temporary file");
  std::u16string audio, libraryKey, libraryAnswer;
  if (!ToLibraryText(audioPath, "audio file name", &audio) ||
      !ToLibraryText(key, "key", &libraryKey) ||
      !ToLibraryText(answerPath, "answer file name", &libraryAnswer)) {
    return kExitUsage;
  }
  const int32_t code =
      QuorelSpeech(LibraryText(audio), LibraryText(libraryKey), LibraryText(libraryAnswer));
  const bool stored = MayHoldAnAnswer(code) && ReadWhole(answerPath, text);
  if (stored) *answer = ReadServiceAnswer(*text);
  if (stored && answer->isError) {
    return Complain(kExitServiceRefused,
                    "the service refused the audio: " + answer->errorMessage +
                        (code == QUOREL_SUCCESS ? ""
                                                : " (sending " + shownName + " stopped there: " +
                                                      DescribeSpeechResult(code) + ")"));
  }
  const std::string failed = "cannot send " + shownName + ": " + DescribeSpeechResult(code);
  if (code == QUOREL_SPEECH_BEGIN_FAILED) {
    return Complain(kExitFailed, failed + ": " + DiagnoseUnreachable(BuiltInServiceEndpoint()));
  }
  if (code != QUOREL_SUCCESS) return Complain(kExitFailed, failed);
  if (!stored) return Complain(kExitFileFailed, "cannot read the stored answer back");
  if (!answer->understood) {
    return Complain(kExitServiceRefused, "the service's answer holds no transcript");
  }
  return kExitDone;
}

// --out receives every answer the service gave, refusals included; a file there is left as it
// was when no answer came.
int KeepAnswer(const std::string& path, const std::string& text, int verdict) {
  if (path.empty() || (text.empty() && verdict != kExitDone) || WriteWhole(path, text)) {
    return kExitDone;
  }
  return Complain(kExitFileFailed,
                  "cannot write the answer file " + path + ": " + std::strerror(errno));
}

int RunSend(const ToolOptions& options) {
  if (const int unwritable = CheckWritable(options.answerPath, "answer file")) return unwritable;
  const bool fromInput = options.audioPath == kStandardStream;
  if (!fromInput) {
    const std::string why = WhyNotReadable(options.audioPath);
    if (!why.empty()) {
      return Complain(kExitFileFailed,
                      "cannot read the audio file " + options.audioPath + ": " + why);
    }
  }
  // The library sends a file: standard input is sent as the file it is, or spooled into one.
  std::string audioPath = fromInput ? RegularFileBehind(STDIN_FILENO) : options.audioPath;
  std::optional<ScratchFile> spool;
  if (audioPath.empty()) {
    spool.emplace(".wav");
    FILE* file = spool->Path().empty() ? nullptr : std::fopen(spool->Path().c_str(), "wb");
    const bool copied = file != nullptr && CopyStream(stdin, file);
    if ((file != nullptr && std::fclose(file) != 0) || !copied)
      return Complain(kExitFileFailed, "cannot store standard input for sending");
    audioPath = spool->Path();
  }
  std::string text;
  ServiceAnswer answer;
  const int verdict = Send(audioPath, fromInput ? "standard input" : options.audioPath, options.key,
                           &text, &answer);
  if (options.answerPath.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return verdict;
  }
  if (const int unkept = KeepAnswer(options.answerPath, text, verdict)) return unkept;
  if (verdict == kExitDone) {
    std::printf("answer (%zu bytes) written to %s\n", text.size(), options.answerPath.c_str());
  }
  return verdict;
}

// listen records only for a service that answers. Through a proxy the library's way to the
// service is not the tool's, so the check is left to the upload.
int CheckReachable() {
  const ServiceEndpoint endpoint = BuiltInServiceEndpoint();
  if (!ProxyFor(endpoint.host).address.empty()) return kExitDone;
  const std::string why = WhyUnreachable(endpoint);
  return why.empty() ? kExitDone : Complain(kExitFailed, "the service cannot be reached: " + why);
}

int RunListen(const ToolOptions& options) {
  if (const int unwritable = CheckWritable(options.answerPath, "answer file")) return unwritable;
  if (const int unwritable = CheckWritable(options.audioPath, "recording file")) return unwritable;
  if (const int unreachable = CheckReachable()) return unreachable;
  std::optional<ScratchFile> scratchWave;
  if (options.audioPath.empty()) scratchWave.emplace(".wav");
  const std::string wavePath = scratchWave ? scratchWave->Path() : options.audioPath;
  if (wavePath.empty()) return Complain(kExitFileFailed, "cannot make a temporary file");
  const std::string shownName = scratchWave ? "the recording" : wavePath;
  if (const int recorded = RunRecord(wavePath, shownName, options.seconds, stderr)) return recorded;
  std::string text;
  ServiceAnswer answer;
  const int verdict = Send(wavePath, shownName, options.key, &text, &answer);
  if (const int unkept = KeepAnswer(options.answerPath, text, verdict)) return unkept;
  if (verdict != kExitDone) return verdict;
  if (answer.transcript.empty()) return Complain(kExitNoSpeech, "no speech was heard");
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
      if (const int unwritable = CheckWritable(options.audioPath, "recording file")) {
        return unwritable;
      }
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
