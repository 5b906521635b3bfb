// The recognition service over HTTPS on 127.0.0.1. One I/O thread runs every connection on an
// event loop, so a slow or idle client holds a socket and a few kilobytes, never a worker;
// recognition runs on a bounded pool of its own. Each request is logged on one line.
#pragma once

#include <memory>
#include <string>

#include "access_keys.h"
#include "certificates.h"
#include "recogniser.h"

namespace quorel::service {

inline constexpr char kListenAddress[] = "127.0.0.1";

struct HttpsSettings {
  int port = 0;  // 0: any free port
  size_t recognitionWorkers = 1;
  size_t maxBodyBytes = 0;
  size_t bodyMemoryBytes = 0;  // for every body held at once; also caps a single one
};

class HttpsService {
 public:
  HttpsService(const HttpsSettings& settings, const ServiceCertificates& certificates,
               const AccessKeys& keys, Recogniser& recogniser);
  ~HttpsService();

  // Loads the certificate and listens; false with the reason when the certificate cannot be used
  // or the port is taken. The port is never shared with another listener.
  bool Bind(std::string* problem);
  int Port() const { return port_; }
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
  int port_ = 0;
};

}  // namespace quorel::service
