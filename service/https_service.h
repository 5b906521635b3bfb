// The recognition service over HTTPS on the addresses it is given. One I/O thread runs every
// connection on an event loop, so a slow or idle client holds a socket and a few kilobytes, never a
// worker; recognition runs on a bounded pool of its own. Each request is logged on one line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "access_keys.h"
#include "certificates.h"
#include "recogniser.h"
#include "service_options.h"

namespace quorel::service {

struct HttpsSettings {
  std::vector<ListenAddress> listen;  // a port of 0: any free one
  std::string version;                // what GET /healthz reports
  size_t recognitionWorkers = 1;
  size_t maxBodyBytes = 0;
  size_t bodyMemoryBytes = 0;  // for every body held at once; also caps a single one
};

class HttpsService {
 public:
  HttpsService(const HttpsSettings& settings, const ServiceCertificates& certificates,
               const AccessKeys& keys, Recogniser& recogniser);
  ~HttpsService();

  // Loads the certificate and listens on every address; false with the reason when the
  // certificate cannot be used or an address cannot be taken. A port is never shared with
  // another listener.
  bool Bind(std::string* problem);
  // The addresses listened on, with the ports taken, in the order given.
  const std::vector<ListenAddress>& Listening() const { return listening_; }
  // Serves until Stop, then until every connection already accepted has its answer.
  void Serve();
  // Safe from any thread, also before Serve: stops accepting, answers 503 to every request not
  // yet waiting for recognition, lets those waiting have their transcript.
  void Stop();

 private:
  struct Loop;

  const HttpsSettings settings_;
  const ServiceCertificates certificates_;
  std::unique_ptr<Loop> loop_;
  std::vector<ListenAddress> listening_;
};

}  // namespace quorel::service
