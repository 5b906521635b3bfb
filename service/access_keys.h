// The access keys the service was started with, held in the form they take in a request target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorel::service {

class AccessKeys {
 public:
  // False (with the reason) for a key no request can bring: an empty one, or one holding "?".
  bool Add(std::string_view key, std::string* problem);
  // One key a line; blank lines and lines starting with "#" are skipped, a trailing CR dropped.
  bool AddFromFile(const std::string& path, std::string* problem);

  bool Empty() const { return encodedKeys_.empty(); }
  // wireKey as it stands in the target; compared in time independent of where keys differ.
  bool Accepts(std::string_view wireKey) const;

 private:
  std::vector<std::string> encodedKeys_;
};

}  // namespace quorel::service
