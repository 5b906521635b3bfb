#include "service_connection.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <boost/asio/execution.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <utility>

#include "answer_json.h"
#include "connection_limits.h"
#include "health_check.h"
#include "speech_request.h"

namespace quorel::service {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using beast::error_code;

namespace {

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// At a stop, how often a lingering connection checks whether its answer has arrived.
constexpr std::chrono::milliseconds kDeliveryCheck{10};

bool IsHttpError(const error_code& error) {
  return error.category() == http::make_error_code(http::error::bad_target).category();
}

}  // namespace

std::string PeerOf(const net::ip::tcp::socket& socket) {
  error_code error;
  const auto peer = socket.remote_endpoint(error);
  if (error) return "-";
  const std::string address = peer.address().to_string();
  return (peer.address().is_v6() ? "[" + address + "]" : address) + ":" +
         std::to_string(peer.port());
}

ServiceConnection::ServiceConnection(net::ip::tcp::socket socket, net::ssl::context& tls,
                                     ConnectionHub& hub)
    : stream_(std::move(socket), tls),
      hub_(hub),
      acceptedAt_(std::chrono::steady_clock::now()),
      timer_(stream_.get_executor()),
      buffer_(kReadBufferBytes) {
  log_.peer = PeerOf(beast::get_lowest_layer(stream_).socket());
}

void ServiceConnection::Start() {
  beast::get_lowest_layer(stream_).expires_after(kHandshakeDeadline);
  stream_.async_handshake(
      net::ssl::stream_base::server,
      [self = shared_from_this()](error_code error) { self->OnHandshake(error); });
}

void ServiceConnection::Stop() {
  switch (phase_) {
    case Phase::kHandshake:
      // Nothing can be answered before TLS is up. A client whose handshake is under way (its
      // side may be done, ours not yet) gets a moment to finish it and then its 503.
      timer_.expires_after(kHandshakeGraceAtStop);
      timer_.async_wait([self = shared_from_this()](error_code error) {
        if (!error && self->phase_ == Phase::kHandshake) self->Close();
      });
      break;
    case Phase::kWaitingForRoom:
      hub_.budget.Cancel(this);
      AnswerError(503);
      break;
    case Phase::kLingering:
      CloseOnceDelivered();
      break;
    case Phase::kHead:
    case Phase::kBody:
      beast::get_lowest_layer(stream_).cancel();  // the read's handler answers 503
      break;
    default:
      break;
  }
}

int ServiceConnection::YieldRank() const {
  switch (phase_) {
    case Phase::kLingering:
      return 0;
    case Phase::kBody:
      return headAnswer_ ? 0 : -1;
    case Phase::kHandshake:
      return 1;
    case Phase::kHead:
      return buffer_.size() == 0 && headParser_ && !headParser_->got_some() ? 1 : -1;
    default:
      return -1;
  }
}

void ServiceConnection::Yield() {
  hub_.yieldedSlots.Note(FormatConnectionLogLine(
      log_.peer, "closed to make room for a new connection", std::time(nullptr)));
  Close();
}

void ServiceConnection::OnHandshake(error_code error) {
  if (phase_ == Phase::kClosed) return;
  if (error) {
    const std::string why = error == beast::error::timeout ? "timed out" : error.message();
    hub_.failedHandshakes.Note(
        FormatConnectionLogLine(log_.peer, "TLS handshake failed: " + why, std::time(nullptr)));
    return Close();
  }
  phase_ = Phase::kHead;
  if (hub_.stopping) return AnswerError(503);
  ReadHead();
}

void ServiceConnection::ReadHead() {
  headParser_.emplace();
  headParser_->header_limit(kMaxHeaderBytes);
  headParser_->body_limit(hub_.maxBodyBytes);
  beast::get_lowest_layer(stream_).expires_after(kHeaderDeadline);
  http::async_read_header(
      stream_, buffer_, *headParser_,
      [self = shared_from_this()](error_code error, size_t) { self->OnHead(error); });
}

void ServiceConnection::OnHead(error_code error) {
  if (phase_ == Phase::kClosed) return;
  const http::request_header<>& head = headParser_->get();
  NoteRequest(head);
  if (error == beast::error::timeout) return Abandon(408, "(header not complete in time)");
  if (error == net::error::operation_aborted && hub_.stopping) return AnswerError(503);
  if (error == http::error::header_limit) return AnswerError(431);
  if (error == http::error::body_limit) return AnswerError(413);
  if (error && IsHttpError(error) && error != http::error::end_of_stream) {
    return AnswerError(400);
  }
  if (error) {
    if (!headParser_->got_some()) return Close();  // connected and left, as idle clients do
    return Abandon(400, "(client left in the header)");
  }

  if (hub_.stopping) return AnswerError(503);
  if (head.target().size() > kMaxTargetBytes) return AnswerError(414);
  const size_t hosts = head.count(http::field::host);
  if (hosts > 1 || (hosts == 0 && head.version() >= 11)) {
    return Answer(400, ErrorAnswer(400, "malformed_request", "give exactly one Host field"));
  }
  const auto length = head.find(http::field::content_length);
  if (head.count(http::field::content_length) > 1 ||
      (length != head.end() && length->value().find(',') != beast::string_view::npos)) {
    return Answer(400, ErrorAnswer(400, "malformed_request", "give exactly one Content-Length"));
  }
  const SpeechRequest speech{
      head.method_string(), head.target(), head[http::field::content_type], {}};
  // What the head alone decides (a refusal, or the health check's answer) is decided now; a body
  // on its way is read through and dropped, never stored, before it is given. libcurl 7.88, the
  // library's HTTP layer, sends the body without waiting for "100 Continue" and loses an answer
  // that comes while it is still sending.
  if (IsHealthCheck(head.target())) {
    headAnswer_ = AnswerHealthCheck(head.method_string(), hub_.version);
    logAnswer_ = headAnswer_->status != 200;
  } else {
    headAnswer_ = RefuseSpeechHead(speech, hub_.keys);
  }
  if (headAnswer_) {
    drainEnd_ = std::chrono::steady_clock::now() + kRefusedBodyDrain;
    ReadBody();
    return hub_.yieldable();
  }
  TakeRoom();
}

void ServiceConnection::TakeRoom() {
  // A chunked body may bring up to the cap.
  roomWanted_ = headParser_->content_length().value_or(hub_.maxBodyBytes);
  if (hub_.budget.TakeOrWait(this, roomWanted_, [self = shared_from_this()] { self->OnRoom(); })) {
    return OnRoom();
  }
  phase_ = Phase::kWaitingForRoom;
  beast::get_lowest_layer(stream_).expires_never();
  timer_.expires_after(kBodyRoomWait);
  timer_.async_wait([self = shared_from_this()](error_code error) {
    if (error || self->phase_ != Phase::kWaitingForRoom) return;
    self->hub_.budget.Cancel(self.get());
    self->AnswerError(503);
  });
}

void ServiceConnection::OnRoom() {
  roomHeld_ = roomWanted_;
  timer_.cancel();
  phase_ = Phase::kHead;  // until the body's first read, as a stop expects of a "100 Continue"
  if (hub_.stopping) return AnswerError(503);
  if (!beast::iequals(headParser_->get()[http::field::expect], "100-continue")) return ReadBody();
  net::async_write(stream_, net::buffer(kContinue, sizeof kContinue - 1),
                   [self = shared_from_this()](error_code error, size_t) {
                     if (self->phase_ == Phase::kClosed) return;
                     if (self->hub_.stopping) return self->AnswerError(503);
                     if (!error) return self->ReadBody();
                     self->Abandon(400, "(client left before the body)");
                   });
}

void ServiceConnection::ReleaseRoom() {
  if (roomHeld_ == 0) return;
  bodyParser_.reset();
  hub_.budget.Give(std::exchange(roomHeld_, 0));
}

void ServiceConnection::ReadBody() {
  phase_ = Phase::kBody;
  bodyParser_.emplace(std::move(*headParser_));
  headParser_.reset();
  StartBodyWindow();
  if (bodyParser_->is_done()) return OnBodyComplete();
  http::async_read_some(stream_, buffer_, *bodyParser_,
                        [self = shared_from_this()](error_code error, size_t count) {
                          self->windowBytes_ += count;
                          self->OnBody(error);
                        });
}

void ServiceConnection::OnBody(error_code error) {
  if (phase_ == Phase::kClosed) return;
  if (headAnswer_ &&
      (error == beast::error::timeout || std::chrono::steady_clock::now() >= drainEnd_) &&
      !bodyParser_->is_done()) {
    return Abandon(headAnswer_->status, "(refused body still coming after " +
                                            std::to_string(kRefusedBodyDrain.count()) + " s)");
  }
  if (error == beast::error::timeout) return Abandon(408, "(body slower than the minimum rate)");
  if (error == net::error::operation_aborted && hub_.stopping) return AnswerError(503);
  if (error == http::error::body_limit) return AnswerError(413);
  if (error && IsHttpError(error) && error != http::error::partial_message &&
      error != http::error::end_of_stream) {
    return AnswerError(400);
  }
  if (error) return Abandon(400, "(client left in the body)");
  if (headAnswer_) bodyParser_->get().body().clear();
  if (bodyParser_->is_done()) return OnBodyComplete();
  // A read that ended just before a stop's cancel was not cancelled.
  if (hub_.stopping) return AnswerError(503);
  // A new window starts once this one has brought its share. The stream's timer closes a read
  // still waiting at the window's end; reads that each complete at once are checked here.
  if (windowBytes_ >= kMinBodyBytesPerWindow) {
    StartBodyWindow();
  } else if (std::chrono::steady_clock::now() >= deadline_) {
    return Abandon(408, "(body slower than the minimum rate)");
  }
  http::async_read_some(stream_, buffer_, *bodyParser_,
                        [self = shared_from_this()](error_code error, size_t count) {
                          self->windowBytes_ += count;
                          self->OnBody(error);
                        });
}

void ServiceConnection::StartBodyWindow() {
  windowBytes_ = 0;
  deadline_ = std::chrono::steady_clock::now() + kBodyWindow;
  beast::get_lowest_layer(stream_).expires_at(headAnswer_ ? std::min(deadline_, drainEnd_)
                                                          : deadline_);
}

void ServiceConnection::OnBodyComplete() {
  requestRead_ = true;
  if (headAnswer_) {
    return Answer(headAnswer_->status, std::move(headAnswer_->body),
                  headAnswer_->allow.empty() ? "" : "Allow", headAnswer_->allow);
  }
  phase_ = Phase::kRecognising;
  beast::get_lowest_layer(stream_).expires_never();
  std::string contentType(bodyParser_->get()[http::field::content_type]);
  auto body = std::make_shared<std::string>(bodyParser_->release().body());
  bodyParser_.reset();
  // The tracked executor keeps the I/O loop running, through a stop, until the answer is back.
  auto loop = net::prefer(stream_.get_executor(), net::execution::outstanding_work.tracked);
  Recogniser& recogniser = hub_.recogniser;
  abandoned_ = std::make_shared<std::atomic<bool>>(false);
  const bool taken = hub_.pool.TrySubmit([self = shared_from_this(), body, loop, &recogniser,
                                          contentType = std::move(contentType),
                                          abandoned = abandoned_]() mutable {
    double recogniseMs = -1;
    SpeechReply reply;
    if (!abandoned->load()) {
      reply = AnswerSpeechBody(contentType, *body, [&](const std::vector<int16_t>& samples) {
        const auto start = std::chrono::steady_clock::now();
        Recognition recognition = recogniser.Recognise(samples);
        recogniseMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        return recognition;
      });
    }
    body.reset();  // before the answer gives its room back
    // Posted even when abandoned, so that the connection is let go of on its own thread; Answer
    // does nothing for a closed one.
    net::post(loop, [self, reply = std::move(reply), recogniseMs] {
      const bool timed = recogniseMs >= 0;
      self->Answer(reply.status, reply.body, timed ? "Server-Timing" : "",
                   timed ? "recognise;dur=" + std::to_string(static_cast<long>(recogniseMs)) : "");
    });
  });
  if (!taken) {
    return Answer(503, ErrorAnswerForStatus(503), "Retry-After",
                  std::to_string(kRetryAfterSeconds));
  }
  WatchClient();
}

void ServiceConnection::WatchClient() {
  timer_.expires_after(kClientCheckInterval);
  timer_.async_wait([self = shared_from_this()](error_code error) {
    if (error || self->phase_ != Phase::kRecognising) return;
    // A client that has closed its side (FIN) or reset the connection has left the state in
    // which it could still read an answer; the HTTP clients the service serves never half-close
    // while waiting for one.
    tcp_info info{};
    socklen_t size = sizeof info;
    const int socket = beast::get_lowest_layer(self->stream_).socket().native_handle();
    if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
        info.tcpi_state == TCP_ESTABLISHED) {
      return self->WatchClient();
    }
    self->abandoned_->store(true);
    self->Abandon(400, "(client left before its answer; recognition abandoned)");
  });
}

void ServiceConnection::AnswerError(int status) {
  Answer(status, ErrorAnswerForStatus(status), status == 503 ? "Retry-After" : "",
         std::to_string(kRetryAfterSeconds));
}

void ServiceConnection::Answer(int status, std::string json, const std::string& extraName,
                               const std::string& extraValue) {
  if (phase_ == Phase::kClosed || phase_ == Phase::kAnswering) return;
  phase_ = Phase::kAnswering;
  ReleaseRoom();
  answer_.version(11);
  answer_.result(status);
  answer_.set(http::field::content_type, "application/json");
  answer_.set(http::field::connection, "close");
  if (!extraName.empty()) answer_.set(extraName, extraValue);
  answer_.body() = std::move(json);
  answer_.prepare_payload();
  log_.status = status;
  log_.answerBytes = answer_.body().size();
  if (extraName == "Server-Timing") log_.note = extraValue;
  beast::get_lowest_layer(stream_).expires_after(kAnswerDeadline);
  http::async_write(stream_, answer_, [self = shared_from_this()](error_code error, size_t) {
    self->OnAnswered(error);
  });
}

void ServiceConnection::OnAnswered(error_code error) {
  if (error) log_.note = "(answer not delivered: " + error.message() + ")";
  if (logAnswer_ || error) WriteLogLine(FormatLogLine(log_, std::time(nullptr)));
  if (error) return Close();
  // With the request read and nothing after it, closing at once loses nothing.
  error_code ignored;
  if (requestRead_ && buffer_.size() == 0 &&
      beast::get_lowest_layer(stream_).socket().available(ignored) == 0) {
    return Close();
  }
  // Else take what the client still sends (a body not read, a request after this one) until it
  // closes: closing with unread bytes would reset the connection under the answer. Nothing tells
  // it of the end before then, as a client still sending its body may take a TLS close or a TCP
  // FIN for a failed transfer; the answer's Content-Length and "Connection: close" say it is
  // complete.
  phase_ = Phase::kLingering;
  hub_.yieldable();
  deadline_ = std::chrono::steady_clock::now() + kLingerTime;
  beast::get_lowest_layer(stream_).expires_at(deadline_);
  Linger();
  if (hub_.stopping) CloseOnceDelivered();
}

void ServiceConnection::CloseOnceDelivered() {
  // Once the client's TCP has acknowledged the whole answer, the reset that closing with unread
  // bytes sends no longer takes the answer away: Linux keeps received data readable after a
  // reset, and the service's clients are on this machine.
  int unacknowledged = 0;
  const int socket = beast::get_lowest_layer(stream_).socket().native_handle();
  if (ioctl(socket, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0) return Close();
  timer_.expires_after(kDeliveryCheck);
  timer_.async_wait([self = shared_from_this()](error_code error) {
    if (!error && self->phase_ == Phase::kLingering) self->CloseOnceDelivered();
  });
}

void ServiceConnection::Linger() {
  beast::get_lowest_layer(stream_).async_read_some(
      net::buffer(scratch_), [self = shared_from_this()](error_code error, size_t) {
        // A client that keeps sending never lets a read wait for the timer.
        if (error || std::chrono::steady_clock::now() >= self->deadline_) return self->Close();
        self->Linger();
      });
}

void ServiceConnection::Abandon(int status, const std::string& why) {
  log_.status = status;
  log_.note = why;
  WriteLogLine(FormatLogLine(log_, std::time(nullptr)));
  Close();
}

void ServiceConnection::Close() {
  if (phase_ == Phase::kClosed) return;
  if (phase_ == Phase::kWaitingForRoom) hub_.budget.Cancel(this);
  phase_ = Phase::kClosed;
  ReleaseRoom();
  timer_.cancel();
  beast::get_lowest_layer(stream_).close();
  hub_.closed(this);
}

void ServiceConnection::NoteRequest(const http::request_header<>& head) {
  log_.method = std::string(head.method_string());
  log_.target = std::string(head.target());
  const auto length = head.find(http::field::content_length);
  if (length != head.end()) log_.declaredLength = std::string(length->value());
}

}  // namespace quorel::service
