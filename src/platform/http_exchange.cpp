// The exchange's functions, the same on every system: each checks its arguments once, for
// every backend, and calls the backend's entry.
#include "platform/http_exchange.h"

#include "platform/http_backend.h"

namespace quorel {

HttpBackend& HttpBackendInUse() {
  static HttpBackend inUse = kHttpBackend;
  return inUse;
}

HttpSession* HttpOpenSession(const char* agentName) {
  if (agentName == nullptr) return nullptr;
  return HttpBackendInUse().openSession(agentName);
}

HttpConnection* HttpSetUpConnection(HttpSession* session, const HttpEndpoint& endpoint) {
  if (session == nullptr || endpoint.hostName == nullptr || endpoint.hostName[0] == 0) {
    return nullptr;
  }
  return HttpBackendInUse().setUpConnection(session, endpoint);
}

HttpRequest* HttpOpenRequest(HttpConnection* connection, const char* verb, const char* target) {
  if (connection == nullptr || verb == nullptr || target == nullptr) return nullptr;
  return HttpBackendInUse().openRequest(connection, verb, target);
}

bool HttpAddHeaders(HttpRequest* request, const char* headerBlock) {
  return request != nullptr && headerBlock != nullptr &&
         HttpBackendInUse().addHeaders(request, headerBlock);
}

bool HttpBeginRequest(HttpRequest* request, uint32_t totalLength) {
  return request != nullptr && HttpBackendInUse().beginRequest(request, totalLength);
}

bool HttpWrite(HttpRequest* request, const void* data, uint32_t count) {
  return request != nullptr && HttpBackendInUse().write(request, data, count);
}

bool HttpFlush(HttpRequest* request) {
  return request != nullptr && HttpBackendInUse().flush(request);
}

bool HttpEndRequest(HttpRequest* request) {
  return request != nullptr && HttpBackendInUse().endRequest(request);
}

bool HttpEarlyAnswer(HttpRequest* request) {
  return request != nullptr && HttpBackendInUse().earlyAnswer(request);
}

bool HttpReusedConnectionLost(HttpRequest* request) {
  return request != nullptr && HttpBackendInUse().reusedConnectionLost(request);
}

HttpReadResult HttpRead(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count) {
  *count = 0;
  if (request == nullptr || capacity == 0) return HttpReadResult::kFailed;
  return HttpBackendInUse().read(request, buffer, capacity, count);
}

void HttpClose(HttpRequest* request) {
  if (request != nullptr) HttpBackendInUse().closeRequest(request);
}

void HttpClose(HttpConnection* connection) {
  if (connection != nullptr) HttpBackendInUse().closeConnection(connection);
}

void HttpClose(HttpSession* session) {
  if (session != nullptr) HttpBackendInUse().closeSession(session);
}

}  // namespace quorel
