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

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

}  // namespace

bool AccessKeys::Add(std::string_view key, std::string* problem, const std::string& origin) {
  const std::string named = "the access key" + (origin.empty() ? "" : " " + origin);
  key = Trim(key);
  if (key.empty()) {
    *problem = named + " is empty";
    return false;
  }
  // The HTTP layer refuses a request target with a second "?", so such a key could never match.
  if (key.find('?') != std::string_view::npos) {
    *problem = named + " holds \"?\": the service cannot read it from a request";
    return false;
  }
  if (key.find_first_of(kBlanks) != std::string_view::npos) {
    warnings_.push_back("warning: " + named +
                        " holds a blank inside it; clients must send it as %20 (a tab as %09)");
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
  for (int number = 1; std::getline(file, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view key = Trim(line);
    if (key.empty() || key[0] == '#') continue;
    if (!Add(key, problem, "on line " + std::to_string(number) + " of " + path)) return false;
  }
  return true;
}

bool AccessKeys::Accepts(std::string_view wireKey) const {
  bool accepted = false;
  for (const std::string& key : encodedKeys_) accepted |= SameBytes(key, wireKey);
  return accepted;
}

}  // namespace quorel::service
