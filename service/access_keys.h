// The access keys the service was started with, held in the form they take in a request target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorel::service {

class AccessKeys {
 public:
  // Blanks (spaces and tabs) around the key are dropped. False (with the reason) for a key no
  // request can bring: an empty one, or one holding "?". origin says where the key comes from
  // ("on line 3 of keys.txt") in messages, which never show the key itself.
  bool Add(std::string_view key, std::string* problem, const std::string& origin = "");
  // One key a line; blank lines and lines starting with "#" are skipped, a trailing CR dropped.
  bool AddFromFile(const std::string& path, std::string* problem);
  // A line for each key with a blank inside, which a client has to send as %20: most likely a
  // mistake in a keys file, but a key all the same.
  const std::vector<std::string>& Warnings() const { return warnings_; }

  bool Empty() const { return encodedKeys_.empty(); }
  // wireKey as it stands in the target; compared in time independent of where keys differ.
  bool Accepts(std::string_view wireKey) const;

 private:
  std::vector<std::string> encodedKeys_;
  std::vector<std::string> warnings_;
};

}  // namespace quorel::service
