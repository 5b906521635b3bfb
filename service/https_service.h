// The recognition service over HTTPS on 127.0.0.1: routes every request to the speech handler,
// gives JSON for errors the HTTP layer finds itself, and logs one line per request.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "access_keys.h"
#include "certificates.h"
#include "recogniser.h"

namespace httplib {
class SSLServer;
}

namespace quorel::service {

inline constexpr char kListenAddress[] = "127.0.0.1";

struct HttpsSettings {
  int port = 0;  // 0: any free port
  size_t workers = 4;
  size_t maxBodyBytes = 0;
};

class HttpsService {
 public:
  HttpsService(const HttpsSettings& settings, const ServiceCertificates& certificates,
               const AccessKeys& keys, Recogniser& recogniser);
  ~HttpsService();

  // Binds the port; false with the reason when the certificate or the port is unusable.
  bool Bind(std::string* problem);
  int Port() const { return port_; }
  // Serves until Stop; requests in progress are completed first.
  void Serve();
  // Safe from any thread; has no effect before Serve has begun listening.
  void Stop();

 private:
  void Route();

  const HttpsSettings settings_;
  const AccessKeys& keys_;
  Recogniser& recogniser_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
};

}  // namespace quorel::service
