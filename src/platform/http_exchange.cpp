// The exchange's functions, the same on every system: each calls the backend's entry.
#include "platform/http_exchange.h"

#include "platform/http_backend.h"

namespace quorel {

HttpBackend& HttpBackendInUse() {
  static HttpBackend inUse = kHttpBackend;
  return inUse;
}

HttpSession* HttpOpenSession(const char* agentName) {
  return HttpBackendInUse().openSession(agentName);
}

HttpConnection* HttpConnect(HttpSession* session, const HttpEndpoint& endpoint) {
  return HttpBackendInUse().connect(session, endpoint);
}

HttpRequest* HttpOpenRequest(HttpConnection* connection, const char* verb, const char* target) {
  return HttpBackendInUse().openRequest(connection, verb, target);
}

bool HttpAddHeaders(HttpRequest* request, const char* headerBlock) {
  return HttpBackendInUse().addHeaders(request, headerBlock);
}

bool HttpBeginRequest(HttpRequest* request, uint32_t totalLength) {
  return HttpBackendInUse().beginRequest(request, totalLength);
}

bool HttpWrite(HttpRequest* request, const void* data, uint32_t count) {
  return HttpBackendInUse().write(request, data, count);
}

bool HttpEndRequest(HttpRequest* request) {
  return HttpBackendInUse().endRequest(request);
}

bool HttpEarlyAnswer(HttpRequest* request) {
  return HttpBackendInUse().earlyAnswer(request);
}

HttpReadResult HttpRead(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count) {
  return HttpBackendInUse().read(request, buffer, capacity, count);
}

void HttpClose(HttpRequest* request) {
  HttpBackendInUse().closeRequest(request);
}

void HttpClose(HttpConnection* connection) {
  HttpBackendInUse().closeConnection(connection);
}

void HttpClose(HttpSession* session) {
  HttpBackendInUse().closeSession(session);
}

}  // namespace quorel
