// Requests to a service on 127.0.0.1 over real HTTPS (libcurl), trusting its local authority.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quorel::test {

inline constexpr char kRecognizeTarget[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=";
// The target with K1, the key the tests' services accept.
inline const std::string kGoodTarget = std::string(kRecognizeTarget) + "K1";

struct HttpAnswer {
  long status = 0;  // 0 when no answer came
  std::string body;
  bool tlsUp = false;  // the service accepted the connection and finished the TLS handshake
};

struct HttpCall {
  std::string host = "localhost";  // or an address the certificate names: 127.0.0.1, [::1]
  std::string method = "POST";
  std::string target;
  std::string body;
  std::vector<std::string> headers{"Content-Type: audio/l16; rate=16000;", "Expect: 100-continue"};
  bool chunked = false;  // send the body with chunked transfer coding instead of a length
};

// A POST of body to target.
HttpCall PostCall(std::string body, std::string target = kGoodTarget);
// A POST that the tests' services answer 200: an envelope around seconds of silence.
HttpCall GoodCall(double seconds = 0.2);

HttpAnswer Call(int port, const std::string& authorityFile, const HttpCall& call);

// The head of a POST to target declaring a body of length bytes, as the library sends it.
std::string RequestHead(const std::string& target, size_t length);

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
  bool AwaitClose(std::chrono::milliseconds limit) { return Read(limit, nullptr); }

 private:
  // Reads until the service closes the connection (true) or limit passes (false); answer, when
  // given, collects what comes and the reading ends with one whole answer.
  bool Read(std::chrono::milliseconds limit, std::string* answer);

  void* curl_;  // CURL
  bool open_ = false;
};

}  // namespace quorel::test
