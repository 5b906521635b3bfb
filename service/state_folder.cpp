#include "state_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorel::service {

namespace {

constexpr char kLockName[] = "/lock";

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) errno = ENOTDIR;
  return S_ISDIR(info.st_mode);
}

// The process id the holder wrote into the lock file, or "" when there is none.
std::string HolderOf(int lock) {
  char text[32] = {};
  const ssize_t length = pread(lock, text, sizeof text - 1, 0);
  if (length <= 0) return "";
  text[strcspn(text, "\n")] = 0;
  return text;
}

}  // namespace

StateFolder::~StateFolder() {
  if (lock_ >= 0) close(lock_);
}

bool StateFolder::Open(const std::string& path, std::string* problem) {
  // The folder holds the private key: one that others can enter or change is not kept private.
  struct stat folder;
  if (stat(path.c_str(), &folder) == 0 && (folder.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(folder.st_mode & 07777));
    *problem = "the state folder " + path + " is open to other users (mode " + mode +
               "); make it private with: chmod 700 " + path;
    return false;
  }
  if (!MakeFolders(path)) {
    *problem = "cannot create the state folder " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string lockFile = path + kLockName;
  lock_ = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_ < 0) {
    *problem = "cannot open " + lockFile + ": " + std::strerror(errno);
    return false;
  }
  // The kernel releases the lock when the process ends, however it ends.
  if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const std::string holder = HolderOf(lock_);
    *problem = errno == EWOULDBLOCK
                   ? "the state folder " + path + " is in use by another quorel-service" +
                         (holder.empty() ? "" : " (process " + holder + ")") +
                         "; give each service a folder of its own with --state-dir"
                   : "cannot lock " + lockFile + ": " + std::strerror(errno);
    return false;
  }
  // Only for a second service's message: nothing else depends on it.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(lock_, 0) == 0) (void)!pwrite(lock_, pid.data(), pid.size(), 0);
  return true;
}

}  // namespace quorel::service
