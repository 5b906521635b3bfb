// One client connection, from accept to close, on the service's I/O thread: TLS handshake, the
// head under a deadline and a size cap, the head's checks (a refused body is never stored, and
// drained for a bounded time), room for the body in the service's body budget, the body under a
// minimum rate, recognition on the pool (abandoned when the client goes), the answer, and a close
// that lingers only while request bytes are unread.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "access_keys.h"
#include "body_budget.h"
#include "log_line.h"
#include "recogniser.h"
#include "recognition_pool.h"
#include "repeated_event_log.h"
#include "speech_request.h"

namespace quorel::service {

class ServiceConnection;

// "address:port" of the client, for the log; "-" once it is gone.
std::string PeerOf(const boost::asio::ip::tcp::socket& socket);

// What every connection shares; lives on the I/O thread with them.
struct ConnectionHub {
  const AccessKeys& keys;
  Recogniser& recogniser;
  RecognitionPool& pool;
  BodyBudget& budget;
  size_t maxBodyBytes;  // at most the budget's capacity
  const std::string& version;
  RepeatedEventLog& failedHandshakes;
  RepeatedEventLog& yieldedSlots;
  bool stopping = false;
  std::function<void(ServiceConnection*)> closed;
  std::function<void()> yieldable;  // a connection has become one that may give its slot up
};

class ServiceConnection : public std::enable_shared_from_this<ServiceConnection> {
 public:
  ServiceConnection(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                    ConnectionHub& hub);

  void Start();
  // The service is stopping: a connection not yet waiting for recognition is answered 503 now
  // (or once its TLS handshake ends, closed if that takes long); one waiting for recognition
  // gets its answer when it comes.
  void Stop();
  // How readily the connection gives its slot to a new one when the service is full: 0 first
  // (a refused body being drained, an answer given and lingering), 1 next (the TLS handshake
  // not done, or not a byte of the request yet), -1 never (a head, a body or a recognition under
  // way). Among equals the oldest goes first.
  int YieldRank() const;
  std::chrono::steady_clock::time_point AcceptedAt() const { return acceptedAt_; }
  // Closes the connection for a new one.
  void Yield();

 private:
  enum class Phase {
    kHandshake,
    kHead,
    kWaitingForRoom,
    kBody,
    kRecognising,
    kAnswering,
    kLingering,
    kClosed
  };
  using Stream = boost::beast::ssl_stream<boost::beast::tcp_stream>;
  using HeadParser = boost::beast::http::request_parser<boost::beast::http::empty_body>;
  using BodyParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  void OnHandshake(boost::beast::error_code error);
  void ReadHead();
  void OnHead(boost::beast::error_code error);
  // Takes the body's room in the budget, or waits for it.
  void TakeRoom();
  void OnRoom();
  void ReleaseRoom();
  void ReadBody();
  void OnBody(boost::beast::error_code error);
  void StartBodyWindow();
  // The refusal decided from the head, or the body to recognition.
  void OnBodyComplete();
  // While recognising: abandons the recognition once the client has closed or reset the
  // connection, checked every kClientCheckInterval.
  void WatchClient();
  void AnswerError(int status);
  void Answer(int status, std::string json, const std::string& extraName = "",
              const std::string& extraValue = "");
  void OnAnswered(boost::beast::error_code error);
  void Linger();
  // At a stop: closes as soon as the answer has reached the client, not after the linger time.
  void CloseOnceDelivered();
  // Logs how the request ended without an answer, then closes.
  void Abandon(int status, const std::string& why);
  void Close();
  void NoteRequest(const boost::beast::http::request_header<>& head);

  Stream stream_;
  ConnectionHub& hub_;
  const std::chrono::steady_clock::time_point acceptedAt_;
  // The grace of a handshake at a stop, the wait for room, or the watch on a client whose
  // request is being recognised.
  boost::asio::steady_timer timer_;
  Phase phase_ = Phase::kHandshake;
  boost::beast::flat_buffer buffer_;
  std::optional<HeadParser> headParser_;
  std::optional<BodyParser> bodyParser_;
  // Decided from the head (a refusal, or the health check's answer), given once the body has
  // passed.
  std::optional<SpeechReply> headAnswer_;
  bool logAnswer_ = true;  // false for the health check
  boost::beast::http::response<boost::beast::http::string_body> answer_;
  // Set on the I/O thread when the client has gone; the recognition job then skips its work.
  std::shared_ptr<std::atomic<bool>> abandoned_;
  size_t roomWanted_ = 0;
  size_t roomHeld_ = 0;       // of the body budget
  bool requestRead_ = false;  // the whole body has been read
  size_t windowBytes_ = 0;
  std::chrono::steady_clock::time_point deadline_;  // of the body window, or of lingering
  std::chrono::steady_clock::time_point drainEnd_;  // of a refused body
  char scratch_[4096];
  LogEntry log_;
};

}  // namespace quorel::service
