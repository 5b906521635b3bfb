// A real quorel-service started for a test and stopped with SIGTERM.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/https_client.h"
#include "support/common/child_process.h"
#include "support/portable/scratch_folder.h"

namespace quorel::test {

class ServiceProcess {
 public:
  // Where the service's standard output goes: a file, or a pipe of one page that nobody reads
  // once the service listens.
  enum class Log { kFile, kUnreadPipe };

  // Starts the service with arguments (port 0 unless given) and a fresh state folder, and waits
  // for it to say where it listens. Running() tells whether that worked.
  explicit ServiceProcess(std::vector<std::string> arguments, const std::string& stateFolder = "",
                          Log log = Log::kFile);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool Running() const { return port_ > 0; }
  // Of the first address it listens on.
  int Port() const { return port_; }
  pid_t Pid() const { return child_->Pid(); }
  const std::string& AuthorityFile() const { return authorityFile_; }
  // True while the process has not exited.
  bool Alive() const { return child_->Running(); }
  // Sends signal, then waits for the exit status: -1 if it did not exit normally or within
  // limit.
  int Stop(int signal = SIGTERM, std::chrono::milliseconds limit = std::chrono::minutes(2));
  // What it has printed so far, standard output then standard error; everything once it has
  // exited (of an unread pipe, what came before the service listened).
  std::string Output() const;

  HttpAnswer Call(const HttpCall& call) const { return test::Call(port_, authorityFile_, call); }

 private:
  ScratchFolder folder_;  // the state folder unless one is given
  int logPipe_ = -1;      // the read end of an unread pipe
  std::string piped_;     // what was read from it
  // Output to files, so that a service that logs a lot never waits on a reader.
  std::unique_ptr<ChildProcess> child_;
  std::optional<ChildResult> ended_;
  int port_ = 0;
  std::string authorityFile_;
};

}  // namespace quorel::test
