#include "service_options.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <type_traits>

namespace quorel::service {

const char kServiceUsage[] =
    "Usage: quorel-service --key KEY [OPTION]...\n"
    "Serves speech recognition over HTTPS for the VantrelQuorelSpeech library and for\n"
    "multipart/form-data uploads (curl -F myfile=@FILE.wav).\n"
    "\n"
    "  -k, --key KEY          accept the access key KEY (repeatable)\n"
    "      --keys-file FILE   accept every key in FILE (one a line, blanks around it\n"
    "                         dropped; # starts a comment)\n"
    "  -l, --listen ADDRESS:PORT\n"
    "                         listen on ADDRESS (numeric; IPv6 in brackets, as\n"
    "                         [::1]:8443) at PORT (0 picks a free one); repeatable\n"
    "                         (default 127.0.0.1:8443)\n"
    "  -p, --port N           listen on 127.0.0.1:N (the same as --listen 127.0.0.1:N)\n"
    "      --certificate FILE serve the PEM certificate chain in FILE instead of the\n"
    "                         local one for localhost (needs --private-key)\n"
    "      --private-key FILE the PEM private key of --certificate\n"
    "      --state-dir DIR    keep the local authority and certificate in DIR, which\n"
    "                         one service at a time may use\n"
    "                         (default $XDG_STATE_HOME/quorel-service or\n"
    "                         ~/.local/state/quorel-service)\n"
    "      --init             create the state folder's certificates if missing, print\n"
    "                         where the authority is, and exit\n"
    "  -g, --grammar FILE     recognise only what the JSGF grammar in FILE allows\n"
    "      --model-dir DIR    the en-us model (default " QUOREL_MODEL_FOLDER
    ")\n"
    "  -j, --threads N        decode at most N requests at the same time, and never more\n"
    "                         than there are cores (default 4); each decoder holds its\n"
    "                         own copy of the model. Connections are served by one\n"
    "                         thread whatever N is; up to 64 more requests wait for a\n"
    "                         decoder, further ones get 503\n"
    "      --max-body BYTES   refuse larger request bodies with 413 (default 16777216)\n"
    "      --body-memory BYTES\n"
    "                         hold at most BYTES of request bodies in memory at once;\n"
    "                         a body that does not fit waits with its reading paused,\n"
    "                         one larger than BYTES is refused with 413\n"
    "                         (default 268435456)\n"
    "  -h, --help             show this help and exit\n"
    "  -V, --version          show the version and exit\n"
    "\n"
    "GET /healthz answers 200 with the version, without a key and without a log line.\n"
    "Exit status: 0 after a clean stop (SIGINT or SIGTERM), 1 when the service cannot\n"
    "start, 2 for a wrong command line.\n";

namespace {

enum LongOnly {
  kKeysFile = 256,
  kStateDir,
  kInit,
  kModelDir,
  kMaxBody,
  kBodyMemory,
  kCertificate,
  kPrivateKey
};

bool ParseCount(const char* text, unsigned long long lowest, unsigned long long highest,
                unsigned long long* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoull(text, &end, 10);
  return errno == 0 && *end == 0 && *value >= lowest && *value <= highest;
}

}  // namespace

bool ParseServiceOptions(int argc, char** argv, ServiceOptions* options, std::string* problem) {
  static const option kLongOptions[] = {
      {"key", required_argument, nullptr, 'k'},
      {"keys-file", required_argument, nullptr, kKeysFile},
      {"listen", required_argument, nullptr, 'l'},
      {"port", required_argument, nullptr, 'p'},
      {"certificate", required_argument, nullptr, kCertificate},
      {"private-key", required_argument, nullptr, kPrivateKey},
      {"state-dir", required_argument, nullptr, kStateDir},
      {"init", no_argument, nullptr, kInit},
      {"grammar", required_argument, nullptr, 'g'},
      {"model-dir", required_argument, nullptr, kModelDir},
      {"threads", required_argument, nullptr, 'j'},
      {"max-body", required_argument, nullptr, kMaxBody},
      {"body-memory", required_argument, nullptr, kBodyMemory},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  // Reads the option's value as a count from lowest to highest into target, or says so.
  const auto count = [&](unsigned long long lowest, unsigned long long highest,
                         const char* complaint, auto* target) {
    unsigned long long value = 0;
    if (!ParseCount(optarg, lowest, highest, &value)) {
      *problem = complaint + std::string(optarg);
      return false;
    }
    *target = static_cast<std::remove_pointer_t<decltype(target)>>(value);
    return true;
  };
  int port = -1;  // --port, when given
  constexpr unsigned long long kMaxBytes = std::numeric_limits<uint32_t>::max();
  for (int option;
       (option = getopt_long(argc, argv, ":k:l:p:g:j:hV", kLongOptions, nullptr)) != -1;) {
    bool understood = true;
    switch (option) {
      case 'k':
        if (optarg[0] == 0) {
          *problem = "--key takes a key that is not empty";
          return false;
        }
        options->keys.emplace_back(optarg);
        break;
      case kKeysFile:
        options->keyFiles.emplace_back(optarg);
        break;
      case 'l':
        options->listen.emplace_back();
        if (!ParseListenAddress(optarg, &options->listen.back())) {
          *problem =
              std::string("--listen takes a numeric ADDRESS:PORT ([::1]:8443 for IPv6): ") + optarg;
          return false;
        }
        break;
      case 'p':
        understood = count(0, 65535, "the port must be a number from 0 to 65535: ", &port);
        break;
      case kCertificate:
        options->certificateFile = optarg;
        break;
      case kPrivateKey:
        options->privateKeyFile = optarg;
        break;
      case kStateDir:
        options->stateFolder = optarg;
        break;
      case kInit:
        options->prepareOnly = true;
        break;
      case 'g':
        options->grammarFile = optarg;
        break;
      case kModelDir:
        options->modelFolder = optarg;
        break;
      case 'j':
        understood = count(1, 256, "--threads takes a number from 1 to 256: ", &options->workers);
        break;
      case kMaxBody:
        understood =
            count(1, kMaxBytes,
                  "--max-body takes a byte count from 1 to 4294967295: ", &options->maxBodyBytes);
        break;
      case kBodyMemory:
        understood = count(1, kMaxBytes, "--body-memory takes a byte count from 1 to 4294967295: ",
                           &options->bodyMemoryBytes);
        break;
      case 'h':
        options->showHelp = true;
        break;
      case 'V':
        options->showVersion = true;
        break;
      case ':':
        *problem = std::string("option ") + argv[optind - 1] + " needs a value";
        return false;
      default:
        *problem = std::string("unknown option ") + argv[optind - 1];
        return false;
    }
    if (!understood) return false;
  }
  if (optind < argc) {
    *problem = std::string("unexpected argument ") + argv[optind];
    return false;
  }
  if (port >= 0 && !options->listen.empty()) {
    *problem = "give --listen or --port, not both";
    return false;
  }
  if (options->listen.empty()) {
    options->listen.push_back({kDefaultListenAddress, port >= 0 ? port : kDefaultPort});
  }
  if (options->certificateFile.empty() != options->privateKeyFile.empty()) {
    *problem = "--certificate and --private-key go together";
    return false;
  }
  if (options->stateFolder.empty()) options->stateFolder = DefaultStateFolder();
  if (options->modelFolder.empty()) options->modelFolder = QUOREL_MODEL_FOLDER;
  const bool needsKeys = !options->prepareOnly && !options->showHelp && !options->showVersion;
  if (needsKeys && options->keys.empty() && options->keyFiles.empty()) {
    *problem = "no access key given: use --key KEY or --keys-file FILE";
    return false;
  }
  return true;
}

bool ParseListenAddress(const std::string& text, ListenAddress* listen) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string address = text.substr(0, colon);
  const bool bracketed = address.size() >= 2 && address.front() == '[' && address.back() == ']';
  if (bracketed) address = address.substr(1, address.size() - 2);
  unsigned char binary[sizeof(in6_addr)];
  const bool numeric = bracketed ? inet_pton(AF_INET6, address.c_str(), binary) == 1
                                 : inet_pton(AF_INET, address.c_str(), binary) == 1;
  unsigned long long port = 0;
  if (!numeric || !ParseCount(text.c_str() + colon + 1, 0, 65535, &port)) return false;
  *listen = {address, static_cast<int>(port)};
  return true;
}

std::string FormatListenAddress(const ListenAddress& listen) {
  const bool v6 = listen.address.find(':') != std::string::npos;
  return (v6 ? "[" + listen.address + "]" : listen.address) + ":" + std::to_string(listen.port);
}

std::string DefaultStateFolder() {
  const char* stateHome = std::getenv("XDG_STATE_HOME");
  if (stateHome != nullptr && stateHome[0] == '/') {
    return std::string(stateHome) + "/quorel-service";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && home[0] != 0 ? home : ".") + "/.local/state/quorel-service";
}

}  // namespace quorel::service
