// The table of functions an HTTP backend provides, one per function of http_exchange.h, which
// calls them through it. Each backend file defines one, and the build links one.
// Each entry keeps the guarantees of http_exchange.h and does only what is its own: before
// it is called, the handles and texts it gets have been checked to be present, the host name
// to be non-empty and a read's capacity to be non-zero (with its count set to 0 already), and
// closing a null handle never reaches the backend.
#pragma once

#include "platform/http_exchange.h"

namespace quorel {

struct HttpBackend {
  HttpSession* (*openSession)(const char* agentName);
  HttpConnection* (*setUpConnection)(HttpSession* session, const HttpEndpoint& endpoint);
  HttpRequest* (*openRequest)(HttpConnection* connection, const char* verb, const char* target);
  bool (*addHeaders)(HttpRequest* request, const char* headerBlock);
  bool (*beginRequest)(HttpRequest* request, uint32_t totalLength);
  bool (*write)(HttpRequest* request, const void* data, uint32_t count);
  bool (*flush)(HttpRequest* request);
  bool (*endRequest)(HttpRequest* request);
  bool (*earlyAnswer)(HttpRequest* request);
  bool (*reusedConnectionLost)(HttpRequest* request);
  HttpReadResult (*read)(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count);
  void (*closeRequest)(HttpRequest* request);
  void (*closeConnection)(HttpConnection* connection);
  void (*closeSession)(HttpSession* session);
};

// The table of the build's backend (libcurl's on Linux, WinINet's on Windows), which its
// backend file defines from its own functions.
extern const HttpBackend kHttpBackend;

// The table the exchange calls through: kHttpBackend's entries, unless a test has put in one
// of its own that wraps the backend's (to act between two writes, or to fail one step) and
// puts the backend's back afterwards.
HttpBackend& HttpBackendInUse();

}  // namespace quorel
