// quorel-service's command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorel::service {

inline constexpr char kDefaultListenAddress[] = "127.0.0.1";
inline constexpr int kDefaultPort = 8443;
inline constexpr size_t kDefaultWorkers = 4;
inline constexpr size_t kDefaultMaxBodyBytes = 16 * 1024 * 1024;  // about 8.7 minutes of audio
// Request bodies held in memory at once, by every connection together.
inline constexpr size_t kDefaultBodyMemoryBytes = 256 * 1024 * 1024;

// A numeric IPv4 or IPv6 address (without brackets) and a port (0: any free one).
struct ListenAddress {
  std::string address;
  int port = 0;
};

struct ServiceOptions {
  std::vector<std::string> keys;
  std::vector<std::string> keyFiles;
  std::vector<ListenAddress> listen;  // kDefaultListenAddress:kDefaultPort when none is given
  std::string stateFolder;
  std::string certificateFile;  // with privateKeyFile: served instead of the local certificate
  std::string privateKeyFile;
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

// "ADDRESS:PORT", with an IPv6 address in brackets ("[::1]:8443"); false when it is not that.
bool ParseListenAddress(const std::string& text, ListenAddress* listen);

// "127.0.0.1:8443", "[::1]:8443".
std::string FormatListenAddress(const ListenAddress& listen);

// $XDG_STATE_HOME/quorel-service, else ~/.local/state/quorel-service.
std::string DefaultStateFolder();

extern const char kServiceUsage[];

}  // namespace quorel::service
