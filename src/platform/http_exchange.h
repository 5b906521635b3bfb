// One HTTPS request, push-shaped as the upload sends it: set up session, connection and request
// objects, add the header block, begin, write the body piece by piece, end, then read the
// answer body in pieces. The functions here check their arguments and call the backend of the
// build through its table (platform/http_backend.h).
//
// What every backend guarantees:
// - Set-up (session, connection, request) makes no network contact. Reaching the host, TLS and
//   the certificate check all happen in HttpBeginRequest, so each of their failures is its
//   failure.
// - The certificate must chain to a trusted root (caFile's roots where one is given, else the
//   system's) and name the host unless acceptMismatchedNames; only the leaf's validity dates
//   are overlooked, as devices often run with a wrong clock.
// - Texts are UTF-8 (the endpoint's host name UTF-16), zero-terminated, and go out byte for
//   byte; a backend whose client wants UTF-16 converts them itself.
// - The body goes out with the declared length and no chunked coding, each write carried to
//   the wire without the whole body ever being held; no more than the declared length is
//   sent, and the request cannot be ended short of it.
// - No redirect is followed and no authentication attempted; the answer of any status is
//   read, but an interim (1xx) one is never taken for the answer.
// - Reaching the host gives up after connectTimeoutMs, and every later wait after
//   stallTimeoutMs without a byte moving either way; the whole exchange, from
//   HttpBeginRequest on, within WholeExchangeLimitMs (platform/http/exchange_bound.h).
// - The backend never sends a request again by itself (HttpReusedConnectionLost tells the
//   caller when it may). Where the client sees a final answer begin while the body goes out
//   (libcurl does, WinINet does not), no more of the body is sent and the write that was due
//   fails; HttpRead reads that answer whole.
// - Closing releases everything an object holds, whatever state it is in.
// - Uploads on different sessions may run on different threads at once; the objects of one
//   session are used by one thread at a time.
#pragma once

#include <cstdint>

namespace quorel {

// Where the service is and how far to trust and wait for it.
struct HttpEndpoint {
  const char16_t* hostName;
  uint16_t port;
  const char* caFile;          // PEM file of trusted roots; empty: the system's trust store
  bool acceptMismatchedNames;  // accept a certificate issued for another host name
  uint32_t connectTimeoutMs;   // giving up on reaching the host
  uint32_t stallTimeoutMs;     // giving up on an exchange that makes no progress
};

struct HttpSession;
struct HttpConnection;
struct HttpRequest;

// Set-up only; each returns null on failure (running out of memory included).
HttpSession* HttpOpenSession(const char* agentName);
HttpConnection* HttpSetUpConnection(HttpSession* session, const HttpEndpoint& endpoint);
HttpRequest* HttpOpenRequest(HttpConnection* connection, const char* verb, const char* target);

// Header lines separated by CR LF; where the client has a value of its own for a field given
// here, the given value is the one sent. False when a line could not be added (out of memory,
// refused by the client): the request must not be begun then.
bool HttpAddHeaders(HttpRequest* request, const char* headerBlock);
// Reaches the host, completes TLS and the certificate check and sends the headers declaring
// totalLength body bytes.
bool HttpBeginRequest(HttpRequest* request, uint32_t totalLength);
// Sends count body bytes (0 is allowed and sends nothing). A backend may gather the bytes
// and send them with later ones; a failure to send them then shows in a later HttpWrite or in
// HttpFlush.
bool HttpWrite(HttpRequest* request, const void* data, uint32_t count);
// Sends whatever earlier writes left gathered and returns once it has gone out, so that a
// part of the body (head, file, tail) fails on its own.
bool HttpFlush(HttpRequest* request);
// Sends what is left gathered, ends the body and waits for the start of the answer; false
// when no answer came.
bool HttpEndRequest(HttpRequest* request);

// After a failed write: true when the final answer had begun to arrive before the body was
// complete (a 417 or 413 to "Expect: 100-continue", say); HttpRead then reads its body.
bool HttpEarlyAnswer(HttpRequest* request);

// After a failed step: true when the request went out on a connection that an earlier
// exchange had left open (a client that pools connections, WinINet, reuses them across
// sessions), and it was lost within the stall limit of the request's begin, before any byte of
// an answer arrived: the server had closed the idle connection, and did not see this request.
// It may then be made once more, from the start, with new connection and request objects.
// Never true for a request that went out on a connection of its own.
bool HttpReusedConnectionLost(HttpRequest* request);

enum class HttpReadResult { kData, kEnd, kFailed };
// Reads up to capacity bytes of the answer body into buffer; kEnd once the body is complete,
// kFailed when the connection was lost or the answer stalled before it was complete.
HttpReadResult HttpRead(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count);

void HttpClose(HttpRequest* request);
void HttpClose(HttpConnection* connection);
void HttpClose(HttpSession* session);

}  // namespace quorel
