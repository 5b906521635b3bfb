#include "access_keys.h"

#include <fstream>

#include "request_target.h"

namespace quorel::service {

namespace {

bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

bool AccessKeys::Add(std::string_view key, std::string* problem) {
  if (key.empty()) {
    *problem = "an access key may not be empty";
    return false;
  }
  // The HTTP layer refuses a request target with a second "?", so such a key could never match.
  if (key.find('?') != std::string_view::npos) {
    *problem = "an access key may not hold \"?\": the service cannot read it from a request";
    return false;
  }
  encodedKeys_.push_back(EncodeKeyForTarget(key));
  return true;
}

bool AccessKeys::AddFromFile(const std::string& path, std::string* problem) {
  std::ifstream file(path);
  if (!file) {
    *problem = "cannot read the keys file " + path;
    return false;
  }
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!Add(line, problem)) return false;
  }
  return true;
}

bool AccessKeys::Accepts(std::string_view wireKey) const {
  bool accepted = false;
  for (const std::string& key : encodedKeys_) accepted |= SameBytes(key, wireKey);
  return accepted;
}

}  // namespace quorel::service
