// Requests to a service on 127.0.0.1 over real HTTPS (libcurl), trusting its local authority.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quorel::test {

inline constexpr char kRecognizeTarget[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=";

struct HttpAnswer {
  long status = 0;  // 0 when no answer came
  std::string body;
  bool tlsUp = false;  // the service accepted the connection and finished the TLS handshake
};

struct HttpCall {
  std::string method = "POST";
  std::string target;
  std::string body;
  std::vector<std::string> headers{"Content-Type: audio/l16; rate=16000;", "Expect: 100-continue"};
  bool chunked = false;  // send the body with chunked transfer coding instead of a length
};

HttpAnswer Call(int port, const std::string& authorityFile, const HttpCall& call);

// A TLS connection (handshake done on construction) that sends bytes as they are, for requests
// no HTTP client would make.
class RawTlsConnection {
 public:
  RawTlsConnection(int port, const std::string& authorityFile);
  ~RawTlsConnection();
  RawTlsConnection(const RawTlsConnection&) = delete;
  RawTlsConnection& operator=(const RawTlsConnection&) = delete;

  bool Open() const { return open_; }
  bool Send(const std::string& bytes);
  // One answer, or all the service sends until it closes the connection.
  std::string ReadToEnd();
  // Reads and drops what comes until the service closes the connection; false if it has not
  // within limit.
  bool AwaitClose(std::chrono::milliseconds limit);

 private:
  void* curl_;  // CURL
  bool open_ = false;
};

// Connects over TLS, sends bytes as they are and closes without waiting for an answer.
bool SendRawAndHangUp(int port, const std::string& authorityFile, const std::string& bytes);

}  // namespace quorel::test
