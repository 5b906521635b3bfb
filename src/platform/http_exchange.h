// One HTTPS request, push-shaped as the upload sends it: set up session, connection and request
// objects (no network contact), add the header block, begin (connect, TLS, certificate check,
// headers with the declared body length), write the body piece by piece, end, then read the
// answer body in pieces. Each backend carries the caller's writes to the wire as they come and
// never holds the whole body.
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

// Set-up only; each returns null on failure.
HttpSession* HttpOpenSession(const char16_t* agentName);
HttpConnection* HttpConnect(HttpSession* session, const HttpEndpoint& endpoint);
HttpRequest* HttpOpenRequest(HttpConnection* connection, const char* verb, const char* target);

// Header lines separated by CR LF; where the client has a value of its own for a field given
// here, the given value is the one sent.
bool HttpAddHeaders(HttpRequest* request, const char16_t* headerBlock);
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

enum class HttpReadResult { kData, kEnd, kFailed };
// Reads up to capacity bytes of the answer body into buffer; kEnd once the body is complete,
// kFailed when the connection was lost or the answer stalled before it was complete.
HttpReadResult HttpRead(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count);

void HttpClose(HttpRequest* request);
void HttpClose(HttpConnection* connection);
void HttpClose(HttpSession* session);

}  // namespace quorel
