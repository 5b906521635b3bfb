// nginx as the service bench's peer: started by the bench with a config of its own in a folder
// under the build folder, TLS on a free loopback port with the certificate of a quorel-service
// behind it, 403 for a wrong key (nginx then drains the body itself), everything else proxied
// to that service. Stopped by its own PID.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/common/child_process.h"

namespace quorel::bench {

class NginxPeer {
 public:
  // nginx: the program; folder: where its config, logs and spooled bodies go; the backend's
  // port and state folder (its certificate and key). Running() tells whether it listens.
  NginxPeer(const std::string& nginx, const std::string& folder, int backendPort,
            const std::string& stateFolder);
  ~NginxPeer();

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  // Of the master and its workers together.
  long ResidentKilobytes() const;
  // Sends SIGTERM (nginx's fast stop) and waits for the exit status.
  int Stop();
  std::string ErrorLog() const;

 private:
  std::string folder_;
  std::unique_ptr<test::ChildProcess> process_;  // also keeps the peer from being copied
  int port_ = 0;
  bool stopped_ = false;
};

}  // namespace quorel::bench
