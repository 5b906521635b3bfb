// quorel-service's command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorel::service {

inline constexpr int kDefaultPort = 8443;
inline constexpr size_t kDefaultWorkers = 4;
inline constexpr size_t kDefaultMaxBodyBytes = 16 * 1024 * 1024;  // about 8.7 minutes of audio
// Request bodies held in memory at once, by every connection together.
inline constexpr size_t kDefaultBodyMemoryBytes = 256 * 1024 * 1024;

struct ServiceOptions {
  std::vector<std::string> keys;
  std::vector<std::string> keyFiles;
  int port = kDefaultPort;
  std::string stateFolder;
  std::string grammarFile;
  std::string modelFolder;  // empty: the en-us model installed with PocketSphinx
  size_t workers = kDefaultWorkers;
  size_t maxBodyBytes = kDefaultMaxBodyBytes;
  size_t bodyMemoryBytes = kDefaultBodyMemoryBytes;
  bool prepareOnly = false;
  bool showHelp = false;
  bool showVersion = false;
};

// False with the reason for a command line that cannot be followed.
bool ParseServiceOptions(int argc, char** argv, ServiceOptions* options, std::string* problem);

// $XDG_STATE_HOME/quorel-service, else ~/.local/state/quorel-service.
std::string DefaultStateFolder();

extern const char kServiceUsage[];

}  // namespace quorel::service
