// The service's state folder: made (mode 0700) when missing, refused when open to other users,
// and locked for as long as the service runs, so that a second service given the same folder
// says so at once instead of racing the first to create its certificates.
#pragma once

#include <string>

namespace quorel::service {

class StateFolder {
 public:
  StateFolder() = default;
  ~StateFolder();
  StateFolder(const StateFolder&) = delete;
  StateFolder& operator=(const StateFolder&) = delete;

  // False with the reason when the folder cannot be made, is not private, or another process
  // holds it.
  bool Open(const std::string& path, std::string* problem);

 private:
  int lock_ = -1;
};

}  // namespace quorel::service
