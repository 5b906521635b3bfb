// A real quorel-service started for a test and stopped with SIGTERM.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/common/child_process.h"
#include "support/portable/scratch_folder.h"

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
  pid_t Pid() const { return child_.Pid(); }
  const std::string& AuthorityFile() const { return authorityFile_; }
  // True while the process has not exited.
  bool Alive() const { return child_.Running(); }
  // Sends signal, then waits for the exit status (-1 if it did not exit normally).
  int Stop(int signal = SIGTERM);
  // What it has printed so far, standard output then standard error; everything once it has
  // exited.
  std::string Output() const;

 private:
  ScratchFolder folder_;  // the state folder unless one is given
  // Its output goes to files, so that a service that logs a lot never waits on a reader.
  ChildProcess child_;
  std::optional<ChildResult> ended_;
  int port_ = 0;
  std::string authorityFile_;
};

}  // namespace quorel::test
