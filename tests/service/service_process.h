// A real quorel-service started for a test and stopped with SIGTERM.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorel::test {

class ServiceProcess {
 public:
  // Starts the service with arguments (port 0 unless given) and a fresh state folder, and waits
  // for it to say where it listens. Running() tells whether that worked.
  explicit ServiceProcess(std::vector<std::string> arguments, const std::string& stateFolder = "");
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  const std::string& AuthorityFile() const { return authorityFile_; }
  // True while the process has not exited.
  bool Alive() const;
  // Sends signal, then waits for the exit status (-1 if it did not exit normally).
  int Stop(int signal = SIGTERM);
  // What it has printed so far; everything once it has exited.
  std::string Output();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
  std::string authorityFile_;
  // Read on as it comes, so that a service that logs a lot never waits on a full pipe.
  std::thread reader_;
  std::mutex mutex_;
  std::string printed_;
};

// A new empty folder under $TMPDIR (or /tmp), removed with its contents when the test process
// ends.
std::string MakeTemporaryFolder();

}  // namespace quorel::test
