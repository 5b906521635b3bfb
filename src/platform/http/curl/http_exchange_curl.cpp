// The HTTP exchange over libcurl's multi interface, driven on the caller's thread. The body
// goes out through a read callback that pauses libcurl (CURL_READFUNC_PAUSE) until there are
// bytes to send. HttpWrite gathers the caller's small pieces into one fixed buffer and sends it
// whole when it fills or HttpFlush asks: each piece as its own TLS record and send would cost
// the kernel's and OpenSSL's per-record work many times over. The body is never held whole.
// The answer comes in through a write callback that queues its bytes until HttpRead takes
// them; receiving pauses only while the queue is full.
//
// Once a final answer has begun, nothing more is sent: the step that was sending fails, libcurl
// is told that the body has ended, and the answer is read to its end.
//
// "Expect: 100-continue" comes with the caller's header block, and goes out as given, but
// libcurl must not know it is there: on a 417 it would drop the answer's body and send the
// request again on the same connection, into the middle of the old body; while waiting for
// "100 Continue" it would hold the body back. So the line is joined to the line before it in
// one entry of libcurl's header list, and an empty "Expect:" keeps libcurl from adding one of
// its own. Interim answers are passed over by the header callback.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "platform/http/curl/leaf_dates_policy.h"
#include "platform/http/exchange_bound.h"
#include "platform/http_backend.h"

namespace quorel {

using Clock = std::chrono::steady_clock;

namespace {

// Four TLS records of the largest size, handed to libcurl (whose upload buffer is as large) in
// one read.
constexpr size_t kGatherBytes = 64 * 1024;
// The first gathered send is one upload piece, and each full one doubles the next, up to
// kGatherBytes: the first piece of the file still goes out before the next one is written, as
// it did when every piece was sent on its own, and the few small sends this costs are nothing
// against a large file.
constexpr size_t kFirstGatherBytes = 1024;
// Answer bytes held for HttpRead before receiving pauses: an early answer of any usual size is
// taken whole while the body still goes out, and a huge one is read at the caller's pace.
constexpr size_t kAnswerQueueBytes = 1 << 20;

}  // namespace

struct HttpSession {
  CURLM* multi = nullptr;
  std::string agentName;
};

struct HttpConnection {
  HttpSession* session = nullptr;
  std::string url;  // scheme, host and port: the request target is given per request
  std::string caFile;
  bool acceptMismatchedNames = false;
  uint32_t connectTimeoutMs = 0;
  uint32_t stallTimeoutMs = 0;
};

struct HttpRequest {
  HttpConnection* connection = nullptr;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  bool inMulti = false;
  bool done = false;
  CURLcode result = CURLE_OK;

  curl_off_t declaredLength = 0;
  curl_off_t accepted = 0;    // body bytes taken from the caller so far
  curl_off_t handedOver = 0;  // body bytes given to libcurl so far
  char gathered[kGatherBytes];
  size_t gatheredLength = 0;
  size_t gatherLimit = kFirstGatherBytes;  // a send is due once this much is gathered
  const char* pending = nullptr;
  size_t pendingLength = 0;
  bool bodyWanted = false;
  bool sendPaused = false;

  int status = 0;
  bool answerStarted = false;  // the header of a final (not 1xx) answer is complete
  bool receivePaused = false;
  std::string answer;  // body bytes received and not yet read, from answerOffset on
  size_t answerOffset = 0;
  curl_off_t answerReceived = 0;  // body bytes handed over by libcurl so far

  Clock::time_point deadline;  // the whole exchange's bound, set when it begins
};

namespace {

CURLcode PrepareTlsContext(CURL*, void* context, void*) {
  SSL_CTX_set_verify(static_cast<SSL_CTX*>(context), SSL_VERIFY_PEER, VerifyOverlookingLeafDates);
  return CURLE_OK;
}

size_t SendBody(char* buffer, size_t size, size_t count, void* user) {
  HttpRequest& request = *static_cast<HttpRequest*>(user);
  request.bodyWanted = true;
  if (request.answerStarted) return 0;  // the body ends where the answer began
  if (request.pendingLength == 0) {
    request.sendPaused = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t taken = request.pendingLength < size * count ? request.pendingLength : size * count;
  std::memcpy(buffer, request.pending, taken);
  request.pending += taken;
  request.pendingLength -= taken;
  request.handedOver += static_cast<curl_off_t>(taken);
  return taken;
}

size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
  HttpRequest& request = *static_cast<HttpRequest*>(user);
  const size_t length = size * count;
  if (request.answer.size() - request.answerOffset >= kAnswerQueueBytes) {
    request.receivePaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  try {
    request.answer.erase(0, request.answerOffset);
    request.answerOffset = 0;
    request.answer.append(data, length);
  } catch (const std::bad_alloc&) {
    return 0;  // fails the transfer
  }
  request.answerReceived += static_cast<curl_off_t>(length);
  return length;
}

size_t ReceiveHeader(char* data, size_t size, size_t count, void* user) {
  HttpRequest& request = *static_cast<HttpRequest*>(user);
  const size_t length = size * count;
  constexpr char kStatusLineStart[] = "HTTP/";
  constexpr size_t kStartLength = sizeof kStatusLineStart - 1;
  if (length > kStartLength && std::memcmp(data, kStatusLineStart, kStartLength) == 0) {
    const char* space = static_cast<const char*>(std::memchr(data, ' ', length));
    request.status = space == nullptr ? 0 : std::atoi(space + 1);
  } else if ((length == 2 && data[0] == '\r' && data[1] == '\n') ||
             (length == 1 && data[0] == '\n')) {
    if (request.status >= 200) request.answerStarted = true;
  }
  return length;
}

void ApplyPauses(HttpRequest& request) {
  curl_easy_pause(request.easy, (request.sendPaused ? CURLPAUSE_SEND : 0) |
                                    (request.receivePaused ? CURLPAUSE_RECV : 0));
}

curl_off_t InfoCount(CURL* easy, CURLINFO info) {
  curl_off_t value = 0;
  curl_easy_getinfo(easy, info, &value);
  return value;
}

long InfoLong(CURL* easy, CURLINFO info) {
  long value = 0;
  curl_easy_getinfo(easy, info, &value);
  return value;
}

curl_off_t BodyBytesSent(const HttpRequest& request) {
  return InfoCount(request.easy, CURLINFO_SIZE_UPLOAD_T);
}

// Every byte that moved either way; unchanged counts mean the exchange is stalled.
curl_off_t BytesMoved(const HttpRequest& request) {
  return BodyBytesSent(request) + InfoCount(request.easy, CURLINFO_SIZE_DOWNLOAD_T) +
         InfoLong(request.easy, CURLINFO_REQUEST_SIZE) +
         InfoLong(request.easy, CURLINFO_HEADER_SIZE);
}

// Until TLS is up, libcurl's own connect timeout is the limit.
bool Connected(const HttpRequest& request) {
  return InfoCount(request.easy, CURLINFO_APPCONNECT_TIME_T) > 0;
}

// The whole declared body of the answer has arrived. libcurl may still be busy with the
// request (an early answer while the body is still owed).
bool AnswerComplete(const HttpRequest& request) {
  const curl_off_t declared = InfoCount(request.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T);
  return declared >= 0 && request.answerReceived == declared;
}

// The answer is over in full: its declared length has arrived, or libcurl ended the transfer
// with it whole (a chunked end or a close), having been told the body was over if the answer
// came first.
bool AnswerEnded(const HttpRequest& request) {
  return AnswerComplete(request) || (request.done && request.result == CURLE_OK);
}

void Finish(HttpRequest& request, CURLcode result) {
  request.done = true;
  request.result = result;
}

void CollectOutcome(HttpRequest& request) {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(request.connection->session->multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == request.easy) {
      Finish(request, message->data.result);
    }
  }
}

// Runs the transfer until ready() holds; false when the transfer ends first, moves no byte for
// the stall time or passes the whole exchange's bound. A stall leaves the transfer running: an
// answer that came before the body was complete can still be read after a write has given up.
template <typename Ready>
bool Drive(HttpRequest& request, Ready ready) {
  using std::chrono::milliseconds;
  CURLM* multi = request.connection->session->multi;
  const auto stallLimit = milliseconds(request.connection->stallTimeoutMs);
  auto lastProgress = Clock::now();
  curl_off_t lastMoved = BytesMoved(request);
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) Finish(request, CURLE_FAILED_INIT);
    CollectOutcome(request);
    if (ready()) return true;
    if (request.done) return false;

    const auto now = Clock::now();
    const curl_off_t moved = BytesMoved(request);
    if (moved != lastMoved || !Connected(request)) {
      lastMoved = moved;
      lastProgress = now;
    }
    const auto wait = std::min(lastProgress + stallLimit, request.deadline) - now;
    if (wait <= Clock::duration::zero()) return false;
    // Rounded up, so that the loop never spins through the last millisecond.
    const auto waitMs = std::chrono::ceil<milliseconds>(wait).count();
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::min<int64_t>(waitMs, 1 << 30)),
                    nullptr);
  }
}

// Once a final answer has begun, the body stops: libcurl, let ask for more, hears from the read
// callback that the body has ended, and so ends the transfer with the answer.
void EndBodyForTheAnswer(HttpRequest& request) {
  request.pending = nullptr;
  request.pendingLength = 0;
  request.gatheredLength = 0;
  request.sendPaused = false;
  ApplyPauses(request);
}

// Hands the gathered bytes to libcurl and runs the transfer until they have gone out or a
// final answer has begun; the buffer is empty afterwards either way.
bool SendGathered(HttpRequest& request) {
  if (request.gatheredLength == 0) return true;
  const curl_off_t sentAfter = request.handedOver + static_cast<curl_off_t>(request.gatheredLength);
  request.pending = request.gathered;
  request.pendingLength = request.gatheredLength;
  request.sendPaused = false;
  ApplyPauses(request);
  const auto allSent = [&request, sentAfter] {
    return request.pendingLength == 0 && BodyBytesSent(request) >= sentAfter;
  };
  const bool ended = Drive(request, [&] { return allSent() || request.answerStarted; });
  const bool sent = ended && allSent();
  request.pending = nullptr;
  request.pendingLength = 0;
  request.gatheredLength = 0;
  if (!sent && request.answerStarted) EndBodyForTheAnswer(request);
  return sent;
}

// "Expect:" in any case, as libcurl looks for it.
bool IsExpectLine(const std::string& line) {
  constexpr char kField[] = "expect:";
  if (line.size() < sizeof kField - 1) return false;
  for (size_t i = 0; i < sizeof kField - 1; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != kField[i]) return false;
  }
  return true;
}

template <typename Value>
bool Set(CURL* easy, CURLoption option, Value value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

bool Configure(HttpRequest& request, const char* verb, const char* target) {
  CURL* easy = request.easy;
  const HttpConnection& connection = *request.connection;
  const bool customVerb = std::strcmp(verb, "POST") != 0;
  // The target goes out verbatim: parsed as part of a URL, a "#" in the key would start a
  // fragment and be cut off.
  return Set(easy, CURLOPT_URL, connection.url.c_str()) &&
         Set(easy, CURLOPT_REQUEST_TARGET, target) && Set(easy, CURLOPT_POST, 1L) &&
         (!customVerb || Set(easy, CURLOPT_CUSTOMREQUEST, verb)) &&
         Set(easy, CURLOPT_PROTOCOLS_STR, "https") &&
         Set(easy, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1}) &&
         Set(easy, CURLOPT_FOLLOWLOCATION, 0L) &&
         Set(easy, CURLOPT_USERAGENT, connection.session->agentName.c_str()) &&
         Set(easy, CURLOPT_NOSIGNAL, 1L) &&
         Set(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connection.connectTimeoutMs)) &&
         // Where the body ends for an early answer is this backend's to say, whatever its
         // status; libcurl would otherwise end it on its own for an error page.
         Set(easy, CURLOPT_KEEP_SENDING_ON_ERROR, 1L) && Set(easy, CURLOPT_SSL_VERIFYPEER, 1L) &&
         Set(easy, CURLOPT_SSL_VERIFYHOST, connection.acceptMismatchedNames ? 0L : 2L) &&
         // A given CA file is the whole trust store: the system's folder of roots is not used.
         (connection.caFile.empty() || (Set(easy, CURLOPT_CAINFO, connection.caFile.c_str()) &&
                                        Set(easy, CURLOPT_CAPATH, nullptr))) &&
         Set(easy, CURLOPT_SSL_CTX_FUNCTION, PrepareTlsContext) &&
         Set(easy, CURLOPT_READFUNCTION, SendBody) && Set(easy, CURLOPT_READDATA, &request) &&
         Set(easy, CURLOPT_UPLOAD_BUFFERSIZE, long{kGatherBytes}) &&
         Set(easy, CURLOPT_WRITEFUNCTION, ReceiveBody) && Set(easy, CURLOPT_WRITEDATA, &request) &&
         Set(easy, CURLOPT_HEADERFUNCTION, ReceiveHeader) &&
         Set(easy, CURLOPT_HEADERDATA, &request);
}

}  // namespace

// The backend's entries, reached only through its table below.
namespace {

void CloseRequest(HttpRequest* request);

// The set-up steps allocate; running out of memory fails the step like any other failure.

HttpSession* OpenSession(const char* agentName) {
  try {
    auto session = std::make_unique<HttpSession>();
    session->agentName = agentName;
    // Reference-counted, and safe to call from several threads in libcurl 7.84 and later.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    session->multi = curl_multi_init();
    if (session->multi == nullptr) {
      curl_global_cleanup();
      return nullptr;
    }
    return session.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HttpConnection* SetUpConnection(HttpSession* session, const HttpEndpoint& endpoint) {
  char host[1024];
  if (!Utf16ToUtf8(endpoint.hostName, host, sizeof host)) return nullptr;
  try {
    const bool literalIpv6 = std::strchr(host, ':') != nullptr;
    auto connection = std::make_unique<HttpConnection>();
    connection->session = session;
    connection->url = std::string("https://") + (literalIpv6 ? "[" : "") + host +
                      (literalIpv6 ? "]" : "") + ":" + std::to_string(endpoint.port) + "/";
    connection->caFile = endpoint.caFile == nullptr ? "" : endpoint.caFile;
    connection->acceptMismatchedNames = endpoint.acceptMismatchedNames;
    connection->connectTimeoutMs = endpoint.connectTimeoutMs;
    connection->stallTimeoutMs = endpoint.stallTimeoutMs;
    return connection.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HttpRequest* OpenRequest(HttpConnection* connection, const char* verb, const char* target) {
  HttpRequest* request = new (std::nothrow) HttpRequest;
  if (request == nullptr) return nullptr;
  request->connection = connection;
  request->easy = curl_easy_init();
  if (request->easy == nullptr || !Configure(*request, verb, target)) {
    CloseRequest(request);
    return nullptr;
  }
  return request;
}

bool AddHeaders(HttpRequest* request, const char* headerBlock) {
  if (request->inMulti) return false;
  // A line without a colon is passed on too; libcurl leaves such a line out of the request.
  // An Expect line rides in the entry of the line before it (see the head of this file).
  std::vector<std::string> entries;
  try {
    bool expectHidden = false;
    for (const char* line = headerBlock; *line != 0;) {
      const char* end = std::strstr(line, "\r\n");
      const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
      if (length > 0) {
        const std::string text(line, length);
        if (IsExpectLine(text) && !entries.empty()) {
          entries.back() += "\r\n" + text;
          expectHidden = true;
        } else {
          entries.push_back(text);
        }
      }
      line += end != nullptr ? length + 2 : length;
    }
    if (expectHidden) entries.emplace_back("Expect:");
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (const std::string& entry : entries) {
    curl_slist* extended = curl_slist_append(request->headers, entry.c_str());
    if (extended == nullptr) return false;
    request->headers = extended;
  }
  return Set(request->easy, CURLOPT_HTTPHEADER, request->headers);
}

bool BeginRequest(HttpRequest* request, uint32_t totalLength) {
  if (request->inMulti) return false;
  request->declaredLength = totalLength;
  if (!Set(request->easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{totalLength}) ||
      curl_multi_add_handle(request->connection->session->multi, request->easy) != CURLM_OK) {
    return false;
  }
  request->inMulti = true;
  request->deadline = Clock::now() + std::chrono::milliseconds(WholeExchangeLimitMs(
                                         request->connection->connectTimeoutMs,
                                         request->connection->stallTimeoutMs, totalLength));
  // libcurl asks for body bytes only once the request's header has gone out in full; an answer
  // it reads first (a refusal of the header alone) shows the header went out, and the send of
  // the body then fails on it, with the answer kept.
  return Drive(*request, [request] { return request->bodyWanted || request->answerStarted; });
}

bool Write(HttpRequest* request, const void* data, uint32_t count) {
  if (!request->inMulti || request->done) return false;
  if (request->answerStarted) {
    EndBodyForTheAnswer(*request);
    return false;
  }
  if (request->accepted + count > request->declaredLength) return false;
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    const size_t room = request->gatherLimit - request->gatheredLength;
    const size_t taken = count < room ? count : room;
    std::memcpy(request->gathered + request->gatheredLength, bytes, taken);
    request->gatheredLength += taken;
    request->accepted += static_cast<curl_off_t>(taken);
    bytes += taken;
    count -= static_cast<uint32_t>(taken);
    if (request->gatheredLength == request->gatherLimit) {
      if (!SendGathered(*request)) return false;
      request->gatherLimit = std::min(2 * request->gatherLimit, sizeof request->gathered);
    }
  }
  return true;
}

bool Flush(HttpRequest* request) {
  if (!request->inMulti || request->done) return false;
  return SendGathered(*request);
}

bool EndRequest(HttpRequest* request) {
  if (!request->inMulti || request->accepted != request->declaredLength ||
      !SendGathered(*request)) {
    return false;
  }
  return Drive(*request, [request] { return request->answerStarted; });
}

bool EarlyAnswer(HttpRequest* request) {
  return request->answerStarted;
}

// Connections are kept in the session's multi handle, for its own requests only, and the upload
// makes one request per session: none goes out on a connection an earlier exchange left open.
bool ReusedConnectionLost(HttpRequest*) {
  return false;
}

HttpReadResult Read(HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count) {
  if (!request->answerStarted) return HttpReadResult::kFailed;
  const auto queued = [request] { return request->answer.size() - request->answerOffset; };
  if (queued() == 0 && request->receivePaused) {
    // libcurl holds back the delivery it was refused and hands it over as receiving resumes;
    // resumed even once the transfer has ended, so that nothing it holds is left behind.
    request->receivePaused = false;
    ApplyPauses(*request);
  }
  if (queued() == 0 && !request->done && !AnswerComplete(*request)) {
    if (!Drive(*request, [&queued] { return queued() > 0; }) && !request->done) {
      Finish(*request, CURLE_OPERATION_TIMEDOUT);
    }
  }
  if (queued() > 0) {
    const size_t taken = std::min<size_t>(queued(), capacity);
    std::memcpy(buffer, request->answer.data() + request->answerOffset, taken);
    request->answerOffset += taken;
    *count = static_cast<uint32_t>(taken);
    return HttpReadResult::kData;
  }
  return AnswerEnded(*request) ? HttpReadResult::kEnd : HttpReadResult::kFailed;
}

void CloseRequest(HttpRequest* request) {
  if (request->inMulti)
    curl_multi_remove_handle(request->connection->session->multi, request->easy);
  if (request->easy != nullptr) curl_easy_cleanup(request->easy);
  curl_slist_free_all(request->headers);
  delete request;
}

void CloseConnection(HttpConnection* connection) {
  delete connection;
}

void CloseSession(HttpSession* session) {
  curl_multi_cleanup(session->multi);
  curl_global_cleanup();
  delete session;
}

}  // namespace

const HttpBackend kHttpBackend = {
    OpenSession, SetUpConnection, OpenRequest,     AddHeaders,  BeginRequest,
    Write,       Flush,           EndRequest,      EarlyAnswer, ReusedConnectionLost,
    Read,        CloseRequest,    CloseConnection, CloseSession};

}  // namespace quorel
