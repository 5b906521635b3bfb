// One HTTPS request over WinINet, in its push shape: HttpSendRequestExW declares the body
// length, InternetWriteFile sends each piece as the caller gives it, HttpEndRequestW waits for
// the answer. Trust comes from the system's Root store; endpoint.caFile has no meaning here.
//
// WinINet's timeouts bound each socket operation. The bound on the whole exchange comes from
// setting them, before every blocking call, to what is left of it when that is less than the
// stall limit (and, within the last stall limit, from running the call on a thread of its own:
// bounded_call.h), and from reading the answer as it arrives (InternetQueryDataAvailable
// first), since one InternetReadFile would otherwise wait until its whole buffer is full, each
// byte within a fresh stall limit.
// WinINet reads nothing while the body goes out: an answer that a server sends early and goes
// on reading the body is read once the body is complete.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wininet.h>

// WinINet maps these two names onto its A and W functions; here they are the interface's own.
#undef HttpOpenRequest
#undef HttpEndRequest

#include <cwchar>
#include <new>
#include <string>

#include "platform/http/exchange_bound.h"
#include "platform/http/wininet/bounded_call.h"
#include "platform/http/wininet/certificate_chain.h"
#include "platform/http_backend.h"

namespace quorel {

struct HttpSession {
  HINTERNET handle;
};

struct HttpConnection {
  HINTERNET handle;
  bool acceptMismatchedNames;
  uint32_t connectTimeoutMs;
  uint32_t stallTimeoutMs;
};

struct HttpRequest {
  HINTERNET handle;
  const HttpConnection* connection;
  uint32_t declaredLength;
  uint32_t bodyBytesWritten;
  uint64_t bodyBytesRead;
  ULONGLONG begunAt;   // GetTickCount64() when the request began, 0 before
  ULONGLONG deadline;  // GetTickCount64() at which the whole exchange gives up
  bool newConnection;  // WinINet resolved the host or connected for this request
};

namespace {

// Over TLS on a kept-alive connection, no redirects followed, no authentication attempted.
// Every date is overlooked in the handshake, since WinINet's flag for them acts on the whole
// chain; the chain itself is judged once the head has gone out (BeginRequest), where only the
// leaf's dates may be out. Every other certificate error fails.
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT |
    INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP |
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert((kRequestFlags | INTERNET_FLAG_IGNORE_CERT_CN_INVALID) == 0x00E4F000);

constexpr DWORD kSendRequestFlags = HSR_INITIATE | HSR_CHUNKED;  // 0x28; WinINet ignores them
constexpr DWORD kEndRequestFlags = HSR_INITIATE;                 // 8

const wchar_t* kAcceptTypes[] = {L"*/*", nullptr};

const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

// The portable code hands over its texts as UTF-8 (the verb, target, header block and agent
// name are ASCII); they are read strictly so that nothing else slips through.
bool Widen(const char* text, std::wstring* wide) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (units <= 0) return false;
  wide->resize(static_cast<size_t>(units));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &(*wide)[0], units) == units;
}

bool SetTimeout(HINTERNET handle, DWORD option, uint32_t milliseconds) {
  DWORD value = milliseconds;
  return InternetSetOptionW(handle, option, &value, sizeof value);
}

bool QueryNumber(const HttpRequest* request, DWORD field, DWORD* value) {
  DWORD size = sizeof *value;
  return HttpQueryInfoW(request->handle, field | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr);
}

// Lets the next blocking call wait no longer than the stall limit, nor past the deadline.
// Returns that limit, 0 once the deadline has passed (or when it could not be set): below the
// stall limit, the call is one of the exchange's last.
uint32_t LimitToDeadline(HttpRequest* request) {
  const ULONGLONG now = GetTickCount64();
  if (now >= request->deadline) return 0;
  const ULONGLONG left = request->deadline - now;
  const uint32_t stall = request->connection->stallTimeoutMs;
  const uint32_t limit = left < stall ? static_cast<uint32_t>(left) : stall;
  const bool set = SetTimeout(request->handle, INTERNET_OPTION_SEND_TIMEOUT, limit) &&
                   SetTimeout(request->handle, INTERNET_OPTION_RECEIVE_TIMEOUT, limit);
  return set ? limit : 0;
}

// WinINet tells a request's context (the HttpRequest) of each step it takes for it. It resolves
// the host name and connects only for a connection of the request's own: one taken from its pool,
// which any earlier request to the same host and port in the process may have left there, skips
// both. Called on the calling thread, inside the call that takes the step.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void*, DWORD) {
  if (context != 0 && (status == INTERNET_STATUS_RESOLVING_NAME ||
                       status == INTERNET_STATUS_CONNECTING_TO_SERVER)) {
    reinterpret_cast<HttpRequest*>(context)->newConnection = true;
  }
}

// WinINet reports a body cut short of its Content-Length as an ordinary end.
bool IsBodyShort(const HttpRequest* request) {
  DWORD declared = 0;
  return QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &declared) &&
         request->bodyBytesRead < declared;
}

// Reads the chain WinINet built for the server on this request's connection and judges it.
bool ServerChainTrusted(HINTERNET request) {
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  DWORD size = sizeof chain;
  if (!InternetQueryOptionW(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &chain, &size)) {
    return false;
  }
  const bool trusted = TrustedOverlookingLeafDates(chain);
  if (chain != nullptr) CertFreeCertificateChain(chain);
  return trusted;
}

// Ends the request and reads the answer's head. A connection closed before any status line
// passes for an HTTP/0.9 answer with status 0, and one closed after "100 Continue" leaves that
// interim status as the request's: neither is a final answer.
bool EndWithFinalAnswer(HttpRequest* request) {
  DWORD status = 0;
  return LimitToDeadline(request) > 0 &&
         HttpEndRequestW(request->handle, nullptr, kEndRequestFlags, 0) &&
         QueryNumber(request, HTTP_QUERY_STATUS_CODE, &status) && status >= 200;
}

}  // namespace

// The backend's entries, reached only through its table below.
namespace {

HttpSession* OpenSession(const char* agentName) {
  std::wstring wideAgent;
  if (!Widen(agentName, &wideAgent)) return nullptr;
  // Straight to the host. A named proxy without a name (INTERNET_OPEN_TYPE_PROXY, no proxy)
  // is refused with ERROR_INVALID_PARAMETER, and the system's proxy settings could carry the
  // request and the key to a host nobody chose.
  HINTERNET handle =
      InternetOpenW(wideAgent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (handle == nullptr) return nullptr;
  // Handles made under the session take its callback.
  if (InternetSetStatusCallbackW(handle, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
    InternetCloseHandle(handle);
    return nullptr;
  }
  HttpSession* session = new (std::nothrow) HttpSession{handle};
  if (session == nullptr) InternetCloseHandle(handle);
  return session;
}

HttpConnection* SetUpConnection(HttpSession* session, const HttpEndpoint& endpoint) {
  HINTERNET handle = InternetConnectW(session->handle, Wide(endpoint.hostName), endpoint.port, L"",
                                      L"", INTERNET_SERVICE_HTTP, 0, 0);
  if (handle == nullptr) return nullptr;
  HttpConnection* connection = new (std::nothrow) HttpConnection{
      handle, endpoint.acceptMismatchedNames, endpoint.connectTimeoutMs, endpoint.stallTimeoutMs};
  if (connection == nullptr) InternetCloseHandle(handle);
  return connection;
}

HttpRequest* OpenRequest(HttpConnection* connection, const char* verb, const char* target) {
  std::wstring wideVerb, wideTarget;
  if (!Widen(verb, &wideVerb) || !Widen(target, &wideTarget)) return nullptr;
  const DWORD flags =
      kRequestFlags |
      (connection->acceptMismatchedNames ? INTERNET_FLAG_IGNORE_CERT_CN_INVALID : 0);
  HttpRequest* request = new (std::nothrow) HttpRequest{nullptr, connection, 0, 0, 0, 0, 0, false};
  if (request == nullptr) return nullptr;
  // The request is its handle's context, for OnStatus.
  request->handle =
      HttpOpenRequestW(connection->handle, wideVerb.c_str(), wideTarget.c_str(), nullptr, nullptr,
                       kAcceptTypes, flags, reinterpret_cast<DWORD_PTR>(request));
  // Send and receive timeouts bound each socket operation, so they end a stalled exchange.
  const bool timed =
      request->handle != nullptr &&
      SetTimeout(request->handle, INTERNET_OPTION_CONNECT_TIMEOUT, connection->connectTimeoutMs) &&
      SetTimeout(request->handle, INTERNET_OPTION_SEND_TIMEOUT, connection->stallTimeoutMs) &&
      SetTimeout(request->handle, INTERNET_OPTION_RECEIVE_TIMEOUT, connection->stallTimeoutMs);
  if (!timed) {
    if (request->handle != nullptr) InternetCloseHandle(request->handle);
    delete request;
    return nullptr;
  }
  return request;
}

bool AddHeaders(HttpRequest* request, const char* headerBlock) {
  std::wstring wideBlock;
  if (!Widen(headerBlock, &wideBlock)) return false;
  // Line by line, each replacing a value WinINet holds already (the Accept line that the
  // accepted-types list made): added as one block, such a field would go out twice. WinINet
  // also judges a line without a colon; its verdict on such a line does not count.
  bool allAdded = true;
  const wchar_t* line = wideBlock.c_str();
  while (*line != 0) {
    const wchar_t* end = wcsstr(line, L"\r\n");
    const size_t length = end != nullptr ? static_cast<size_t>(end - line) : wcslen(line);
    if (length > 0) {
      const bool added = HttpAddRequestHeadersW(request->handle, line, static_cast<DWORD>(length),
                                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
      if (wmemchr(line, L':', length) != nullptr) allAdded = allAdded && added;
    }
    line += end != nullptr ? length + 2 : length;
  }
  return allAdded;
}

bool BeginRequest(HttpRequest* request, uint32_t totalLength) {
  INTERNET_BUFFERSW begin{};
  begin.dwStructSize = sizeof begin;
  begin.dwBufferTotal = totalLength;
  request->declaredLength = totalLength;
  request->begunAt = GetTickCount64();
  request->deadline =
      request->begunAt + WholeExchangeLimitMs(request->connection->connectTimeoutMs,
                                              request->connection->stallTimeoutMs, totalLength);
  // The head has gone out over the one connection of the call; its chain is judged before any
  // of the body goes.
  return HttpSendRequestExW(request->handle, &begin, nullptr, kSendRequestFlags, 0) &&
         ServerChainTrusted(request->handle);
}

// The body stays within its declared length: WinINet would send the excess as the start of a
// next request, or wait for the bytes missing at the end. Within the last stall limit before the
// deadline, the write runs on a thread of its own, since the send timeout that LimitToDeadline
// shortens may not reach the socket once the request has begun (Wine's does not).
bool Write(HttpRequest* request, const void* data, uint32_t count) {
  if (count > request->declaredLength - request->bodyBytesWritten) return false;
  if (count == 0) return true;
  const uint32_t limit = LimitToDeadline(request);
  if (limit == 0) return false;
  DWORD written = 0;
  const bool sent =
      limit < request->connection->stallTimeoutMs
          ? WriteWithin(request->handle, data, count, limit) == CallOutcome::kSucceeded
          : InternetWriteFile(request->handle, data, count, &written) && written == count;
  if (!sent) return false;
  request->bodyBytesWritten += count;
  return true;
}

// Each write has gone out already.
bool Flush(HttpRequest*) {
  return true;
}

bool EndRequest(HttpRequest* request) {
  return request->bodyBytesWritten == request->declaredLength && EndWithFinalAnswer(request);
}

// WinINet reads nothing while the body goes out: an answer sent before the server stopped
// reading waits in the connection, and ending the request reads it.
bool EarlyAnswer(HttpRequest* request) {
  return EndWithFinalAnswer(request);
}

// A connection that the server closed while it lay in the pool fails at once: the head goes
// into it, and the first write after it or the wait for the answer meets the server's reset or
// close. Within the stall limit of the begin, no wait ran out, so no stalled server is taken
// for a closed connection; and a server that has sent nothing has not acted on the request.
// Once the answer's end has been waited for, an answer that did not come leaves the status 0
// (WinINet's reading of a connection closed without one) and nothing to read.
bool ReusedConnectionLost(HttpRequest* request) {
  if (request->begunAt == 0 || request->newConnection || request->bodyBytesRead > 0 ||
      GetTickCount64() - request->begunAt >= request->connection->stallTimeoutMs) {
    return false;
  }
  DWORD status = 0;
  DWORD available = 0;
  return !QueryNumber(request, HTTP_QUERY_STATUS_CODE, &status) ||
         (status == 0 && InternetQueryDataAvailable(request->handle, &available, 0, 0) &&
          available == 0);
}

// Waits for the answer's next bytes. Within the last stall limit before the deadline, the
// wait runs on a thread of its own, since the receive timeout that LimitToDeadline shortens
// may not reach the socket once the head has been read (Wine's does not).
HttpReadResult Read(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count) {
  DWORD available = 0;
  const uint32_t limit = LimitToDeadline(request);
  if (limit == 0) return HttpReadResult::kFailed;
  const bool waited =
      limit < request->connection->stallTimeoutMs
          ? QueryDataAvailableWithin(request->handle, limit, &available) == CallOutcome::kSucceeded
          : InternetQueryDataAvailable(request->handle, &available, 0, 0);
  if (!waited) return HttpReadResult::kFailed;
  DWORD got = 0;
  const DWORD wanted = available == 0 || available > capacity ? capacity : available;
  if (!InternetReadFile(request->handle, buffer, wanted, &got)) return HttpReadResult::kFailed;
  request->bodyBytesRead += got;
  *count = got;
  if (got > 0) return HttpReadResult::kData;
  return IsBodyShort(request) ? HttpReadResult::kFailed : HttpReadResult::kEnd;
}

void CloseRequest(HttpRequest* request) {
  InternetCloseHandle(request->handle);
  delete request;
}

void CloseConnection(HttpConnection* connection) {
  InternetCloseHandle(connection->handle);
  delete connection;
}

void CloseSession(HttpSession* session) {
  InternetCloseHandle(session->handle);
  delete session;
}

}  // namespace

const HttpBackend kHttpBackend = {
    OpenSession, SetUpConnection, OpenRequest,     AddHeaders,  BeginRequest,
    Write,       Flush,           EndRequest,      EarlyAnswer, ReusedConnectionLost,
    Read,        CloseRequest,    CloseConnection, CloseSession};

}  // namespace quorel
