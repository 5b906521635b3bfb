// A TLS server on 127.0.0.1 for tests, over OpenSSL: it takes one HTTP request per
// connection (or several, where it keeps connections alive), records the request's bytes exactly as
// they arrived, answers, and can be told to misbehave at each phase of the exchange. Each
// connection is served on its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorel::test {

// In this order: kCloseInRequest to kEarlyAnswerReading are the modes that act within the request,
// and the server program names them by their place.
enum class Misbehaviour {
  kNone,
  kRefuse,              // the port is bound but not listening: every connection is refused
  kFailHandshake,       // accepts, then closes without a TLS handshake
  kStallHandshake,      // accepts and never answers the client's hello
  kCloseInRequest,      // resets the connection once requestBodyLimit body bytes have arrived
  kStallInRequest,      // stops reading once requestBodyLimit body bytes have arrived
  kEarlyAnswer,         // answers once requestBodyLimit body bytes have arrived, then reads no more
                        // and holds the connection open
  kEarlyAnswerReading,  // answers once requestBodyLimit body bytes have arrived, without
                        // "Connection: close", reads on until the client closes or the declared
                        // body is in, then closes
  kContinueThenClose,   // reads the whole request, sends only "100 Continue" and closes
  kNoAnswer,            // reads the whole request, then closes without answering
  kStallAnswer,         // reads the whole request and never answers
  kCutAnswer,           // declares the whole answer body, sends half of it and closes
  kStallInAnswer,       // declares the whole answer body, sends half of it and waits
};

enum class AnswerFraming { kContentLength, kChunked, kUntilClose };

struct TlsServerOptions {
  std::string certificateFile;
  std::string keyFile;
  uint16_t port = 0;  // 0: an ephemeral port
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  uint64_t requestBodyLimit = 0;     // 0 with kCloseInRequest: right after the request header
  int receiveBufferBytes = 0;        // 0: the system's; small values keep fewer bytes in flight
  bool holdUntilReleased = false;    // wait for Release() before misbehaving in the request
  size_t requestPieceSize = 0;       // 0: the body read as it comes; else pieces of this size
  unsigned requestPieceDelayMs = 0;  // pause after each piece: a slow reader
  bool sendContinue = false;         // answer "Expect: 100-continue" with an interim answer
  std::string answerStatus = "200 OK";
  std::string answerBody = "{\"result\":[]}\n";
  AnswerFraming framing = AnswerFraming::kContentLength;
  size_t answerPieceSize = 0;       // 0: the answer in one write; else pieces (chunks) of this size
  unsigned answerPieceDelayMs = 0;  // pause between pieces: a slow answer
  unsigned resetAfterEarlyAnswerMs = 0;  // kEarlyAnswer: reset this long after answering
  // kEarlyAnswer: the answer goes out as soon as the connection is up, so that it is there
  // before the client has sent its request's head, as a fast refusal of the head looks to a
  // client that goes on from the head to the body.
  bool earlyAnswerBeforeHead = false;
  // With kNone and not 0: the answer does not say "Connection: close", and the connection waits
  // this long for a next request before the server closes it, as servers end an idle kept-alive
  // connection: with TLS's close notice and a FIN, or with the FIN alone.
  unsigned keepAliveMs = 0;
  bool closeNotifyWhenIdle = true;
};

// One per request; a connection that ends before any request brings one with none.
struct RecordedExchange {
  std::string request;  // header and body bytes, as received
  uint64_t declaredBodyLength = 0;
};

class TlsTestServer {
 public:
  // Starts listening; throws std::runtime_error when it cannot.
  explicit TlsTestServer(TlsServerOptions options);
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;
  // Stops: releases stalled connections, joins every thread, closes every descriptor.
  ~TlsTestServer();

  uint16_t Port() const;
  // Connections accepted so far.
  size_t ConnectionCount() const;
  // Waits up to waitMs for count exchanges to be done with (a request answered on a kept-alive
  // connection, or a connection closed); returns those done by then.
  std::vector<RecordedExchange> WaitForExchanges(size_t count, unsigned waitMs = 20000) const;
  // Waits up to waitMs until some connection has misbehaved as configured.
  bool WaitForMisbehaviour(unsigned waitMs = 20000) const;
  // Lets connections held by holdUntilReleased go on and misbehave.
  void Release();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorel::test
