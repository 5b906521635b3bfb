#include "tool_options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quorel::tool {

const char kToolUsage[] =
    "Usage: quorel record OUT.wav [--seconds N]\n"
    "       quorel send AUDIO.wav --key KEY [--out ANSWER.json]\n"
    "       quorel listen --key KEY [--seconds N] [--wav FILE] [--out ANSWER.json]\n"
    "Records the default audio input and turns speech into text through the\n"
    "recognition service this build of VantrelQuorelSpeech talks to.\n"
    "\n"
    "  record   record 16 kHz mono 16-bit audio into OUT.wav until N seconds pass,\n"
    "           Enter is pressed, or SIGINT/SIGTERM arrives; the file is complete\n"
    "           in every case. Prints the bytes and seconds recorded. OUT.wav\n"
    "           \"-\" writes the finished recording to standard output.\n"
    "  send     post AUDIO.wav (\"-\": standard input) to the service; print the\n"
    "           answer, or write it to ANSWER.json.\n"
    "  listen   record as record does, send it, and print the transcript.\n"
    "\n"
    "  -s, --seconds N    record exactly N seconds, to a sample (decimals allowed)\n"
    "  -k, --key KEY      the service's access key (default: $QUOREL_KEY)\n"
    "  -o, --out FILE     keep the service's answer in FILE\n"
    "  -w, --wav FILE     keep listen's recording in FILE\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and the service and trust store this\n"
    "                     build of the library uses, and exit\n"
    "\n"
    "Exit status, the same for every command:\n"
    "  0  done\n"
    "  1  recording or sending failed (result code and meaning printed)\n"
    "  2  wrong command line\n"
    "  3  the service refused the audio (its status and reason printed)\n"
    "  4  a file could not be read or written (the system's reason printed)\n"
    "  5  listen heard no speech\n"
    "A SIGINT or SIGTERM while sending ends the tool by that signal (status 130\n"
    "or 143 in a shell); no temporary file is left on any ending.\n";

namespace {

bool ParseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  errno = 0;
  *seconds = std::strtod(text, &end);
  return errno == 0 && end != text && *end == 0 && std::isfinite(*seconds) && *seconds > 0 &&
         *seconds <= 24 * 3600;
}

Command CommandNamed(const char* name) {
  if (std::strcmp(name, "record") == 0) return Command::kRecord;
  if (std::strcmp(name, "send") == 0) return Command::kSend;
  if (std::strcmp(name, "listen") == 0) return Command::kListen;
  return Command::kNone;
}

}  // namespace

bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* problem) {
  static const option kLongOptions[] = {
      {"seconds", required_argument, nullptr, 's'},
      {"key", required_argument, nullptr, 'k'},
      {"out", required_argument, nullptr, 'o'},
      {"wav", required_argument, nullptr, 'w'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  std::string wavPath;
  for (;;) {
    const int option = getopt_long(argc, argv, ":s:k:o:w:hV", kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 's':
        if (!ParseSeconds(optarg, &options->seconds)) {
          *problem = std::string("--seconds takes a positive number of seconds: ") + optarg;
          return false;
        }
        break;
      case 'k':
        options->key = optarg;
        break;
      case 'o':
        options->answerPath = optarg;
        break;
      case 'w':
        wavPath = optarg;
        break;
      case 'h':
        options->command = Command::kHelp;
        return true;
      case 'V':
        options->command = Command::kVersion;
        return true;
      case ':':
        *problem = std::string("option ") + argv[optind - 1] + " needs a value";
        return false;
      default:
        *problem = std::string("unknown option ") + argv[optind - 1];
        return false;
    }
  }
  const int operands = argc - optind;
  if (operands == 0) {
    *problem = "no command given (record, send or listen)";
    return false;
  }
  options->command = CommandNamed(argv[optind]);
  if (options->command == Command::kNone) {
    *problem = std::string("unknown command ") + argv[optind];
    return false;
  }
  const bool takesFile = options->command != Command::kListen;
  if (operands != (takesFile ? 2 : 1)) {
    *problem = takesFile ? std::string(argv[optind]) + " takes one file name"
                         : "listen takes no file name (use --wav FILE to keep the recording)";
    return false;
  }
  options->audioPath = takesFile ? argv[optind + 1] : wavPath;
  // Every option a command does not take is named; record takes only --seconds.
  const std::pair<bool, const char*> misplaced[] = {
      {!options->key.empty() && options->command == Command::kRecord, "--key"},
      {!options->answerPath.empty() && options->command == Command::kRecord, "--out"},
      {options->seconds > 0 && options->command == Command::kSend, "--seconds"},
      {!wavPath.empty() && options->command != Command::kListen, "--wav"},
  };
  for (const auto& [given, name] : misplaced) {
    if (given) {
      *problem = std::string(argv[optind]) + " does not take " + name;
      return false;
    }
  }
  if (options->key.empty() && options->command != Command::kRecord) {
    if (const char* key = std::getenv("QUOREL_KEY")) options->key = key;
    if (options->key.empty()) {
      *problem = "no access key: give --key KEY or set QUOREL_KEY";
      return false;
    }
  }
  return true;
}

}  // namespace quorel::tool
