#include "support/tls/tls_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "support/portable/wire_request.h"

namespace quorel::test {

struct TlsTestServer::State {
  TlsServerOptions options;
  SSL_CTX* context = nullptr;
  int listener = -1;
  int stopPipe[2] = {-1, -1};
  uint16_t port = 0;
  std::thread acceptor;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  size_t accepted = 0;
  size_t active = 0;  // connection threads still running (they are detached)
  bool misbehaved = false;
  bool released = false;
  bool stopping = false;
  std::vector<RecordedExchange> finished;

  void Serve(int socket);
  void Accept();
  void MarkMisbehaved();
  void Record(RecordedExchange&& record);
  // False when the server stops first.
  bool WaitForRelease();
};

namespace {

// Waits up to waitMs (-1: for ever) for the server to stop; false when the time ran out first.
bool WaitForStop(int stopFd, int waitMs = -1) {
  pollfd stop{stopFd, POLLIN, 0};
  int ready;
  while ((ready = poll(&stop, 1, waitMs)) < 0) {
  }
  return ready > 0;
}

// Reads at most limit bytes; 0 at the end of the stream, on failure or when the server stops.
size_t ReadSome(SSL* ssl, int socket, int stopFd, char* buffer, size_t limit) {
  pollfd fds[2] = {{socket, POLLIN, 0}, {stopFd, POLLIN, 0}};
  if (SSL_pending(ssl) == 0 && (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))) return 0;
  const int got = SSL_read(ssl, buffer, static_cast<int>(std::min<size_t>(limit, 1 << 16)));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

bool WriteAll(SSL* ssl, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int put = SSL_write(ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (put <= 0) return false;
    sent += static_cast<size_t>(put);
  }
  return true;
}

// A reset instead of an orderly close: the client's next send or receive fails at once.
void Reset(int socket) {
  linger abort{1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// The value of a header field of a whole request header; "" when it has none.
std::string FieldOf(const std::string& header, const char* name) {
  int count = 0;
  return FieldValues(ParseRequest(header).headerLines, name, &count);
}

// Every answer but those of a server that reads on after it or keeps the connection alive says
// the connection ends with it.
std::string AnswerHeader(const TlsServerOptions& options) {
  std::string header =
      "HTTP/1.1 " + options.answerStatus + "\r\nContent-Type: application/json\r\n";
  if (options.framing == AnswerFraming::kContentLength) {
    header += "Content-Length: " + std::to_string(options.answerBody.size()) + "\r\n";
  } else if (options.framing == AnswerFraming::kChunked) {
    header += "Transfer-Encoding: chunked\r\n";
  }
  if (options.misbehaviour == Misbehaviour::kEarlyAnswerReading || options.keepAliveMs > 0) {
    return header + "\r\n";
  }
  return header + "Connection: close\r\n\r\n";
}

std::string Frame(const TlsServerOptions& options, const std::string& piece) {
  if (options.framing != AnswerFraming::kChunked) return piece;
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
  return size + piece + "\r\n";
}

// The answer's header and body[0, end) in the configured pieces, and the chunked coding's end
// once the body is whole; false when the client went away or the server stops.
bool SendAnswer(SSL* ssl, int stopFd, const TlsServerOptions& options, size_t end) {
  if (!WriteAll(ssl, AnswerHeader(options))) return false;
  const size_t pieceSize =
      options.answerPieceSize == 0 ? std::max<size_t>(end, 1) : options.answerPieceSize;
  for (size_t offset = 0; offset < end; offset += pieceSize) {
    if (offset > 0 && options.answerPieceDelayMs > 0 &&
        WaitForStop(stopFd, static_cast<int>(options.answerPieceDelayMs))) {
      return false;
    }
    const std::string piece = options.answerBody.substr(offset, std::min(pieceSize, end - offset));
    if (!WriteAll(ssl, Frame(options, piece))) return false;
  }
  return end < options.answerBody.size() || options.framing != AnswerFraming::kChunked ||
         WriteAll(ssl, "0\r\n\r\n");
}

// Waits up to waitMs for the client's next request on a kept-alive connection; false when it
// sends none in that time or the server stops.
bool AwaitNextRequest(SSL* ssl, int socket, int stopFd, unsigned waitMs) {
  if (SSL_pending(ssl) > 0) return true;
  pollfd fds[2] = {{socket, POLLIN, 0}, {stopFd, POLLIN, 0}};
  while (poll(fds, 2, static_cast<int>(waitMs)) < 0) {
  }
  return (fds[0].revents & POLLIN) && !(fds[1].revents & POLLIN);
}

}  // namespace

void TlsTestServer::State::Record(RecordedExchange&& record) {
  std::lock_guard<std::mutex> lock(mutex);
  finished.push_back(std::move(record));
  changed.notify_all();
}

void TlsTestServer::State::MarkMisbehaved() {
  std::lock_guard<std::mutex> lock(mutex);
  misbehaved = true;
  changed.notify_all();
}

bool TlsTestServer::State::WaitForRelease() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return released || stopping; });
  return !stopping;
}

void TlsTestServer::State::Serve(int socket) {
  RecordedExchange record;
  const int stopFd = stopPipe[0];
  const Misbehaviour misbehaviour = options.misbehaviour;
  SSL* ssl = nullptr;
  bool reset = false;
  bool closesOnPurpose = false;  // reached the point where the misbehaviour closes
  bool recordedOne = false;      // a kept-alive connection's request recorded already
  const auto stall = [&] {
    MarkMisbehaved();
    WaitForStop(stopFd);
  };

  // A client that never sends its hello must not hold the handshake for ever.
  timeval handshakeLimit{10, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &handshakeLimit, sizeof handshakeLimit);

  if (misbehaviour == Misbehaviour::kFailHandshake) {
    closesOnPurpose = true;
  } else if (misbehaviour == Misbehaviour::kStallHandshake) {
    stall();
  } else if ((ssl = SSL_new(context)) != nullptr && SSL_set_fd(ssl, socket) == 1 &&
             SSL_accept(ssl) == 1) {
    // A kept-alive connection serves requests until it stays idle for the keep-alive time.
    for (;;) {
      bool keptAlive = false;  // answered, with the connection kept for a next request
      [&] {
        const bool answeredFirst =
            misbehaviour == Misbehaviour::kEarlyAnswer && options.earlyAnswerBeforeHead;
        if (answeredFirst && !SendAnswer(ssl, stopFd, options, options.answerBody.size())) return;
        // The header byte by byte, so that not one body byte is taken with it.
        char byte;
        while (record.request.find("\r\n\r\n") == std::string::npos) {
          if (ReadSome(ssl, socket, stopFd, &byte, 1) == 0) return;
          record.request += byte;
        }
        const size_t headerLength = record.request.size();
        record.declaredBodyLength =
            std::strtoull(FieldOf(record.request, "Content-Length").c_str(), nullptr, 10);
        if (options.sendContinue && FieldOf(record.request, "Expect") == "100-continue" &&
            !WriteAll(ssl, "HTTP/1.1 100 Continue\r\n\r\n")) {
          return;
        }

        // The modes that act once requestBodyLimit body bytes are in.
        const bool cutRequest = misbehaviour >= Misbehaviour::kCloseInRequest &&
                                misbehaviour <= Misbehaviour::kEarlyAnswerReading;
        const uint64_t wanted = cutRequest
                                    ? std::min(options.requestBodyLimit, record.declaredBodyLength)
                                    : record.declaredBodyLength;
        // The body up to length bytes; false when the client or the server stops first.
        const auto readBodyTo = [&](uint64_t length) {
          char buffer[1 << 16];
          const size_t piece = options.requestPieceSize > 0
                                   ? std::min(options.requestPieceSize, sizeof buffer)
                                   : sizeof buffer;
          for (uint64_t have; (have = record.request.size() - headerLength) < length;) {
            const size_t got =
                ReadSome(ssl, socket, stopFd, buffer, std::min<uint64_t>(length - have, piece));
            if (got == 0) return false;
            record.request.append(buffer, got);
            if (options.requestPieceDelayMs > 0 &&
                WaitForStop(stopFd, static_cast<int>(options.requestPieceDelayMs))) {
              return false;
            }
          }
          return true;
        };
        if (!readBodyTo(wanted)) return;
        if (cutRequest && options.holdUntilReleased && !WaitForRelease()) return;

        const size_t whole = options.answerBody.size();
        switch (misbehaviour) {
          case Misbehaviour::kCloseInRequest:
            reset = closesOnPurpose = true;
            return;
          case Misbehaviour::kStallInRequest:
          case Misbehaviour::kStallAnswer:
            return stall();
          case Misbehaviour::kContinueThenClose:
            if (!WriteAll(ssl, "HTTP/1.1 100 Continue\r\n\r\n")) return;
            [[fallthrough]];
          case Misbehaviour::kNoAnswer:
            SSL_shutdown(ssl);
            closesOnPurpose = true;
            return;
          case Misbehaviour::kEarlyAnswer:
          case Misbehaviour::kEarlyAnswerReading:
            if (!answeredFirst && !SendAnswer(ssl, stopFd, options, whole)) return;
            MarkMisbehaved();
            if (misbehaviour == Misbehaviour::kEarlyAnswer) {
              const unsigned resetMs = options.resetAfterEarlyAnswerMs;
              // A reset with the client's body unread: as a server that gives up does.
              reset = !WaitForStop(stopFd, resetMs == 0 ? -1 : static_cast<int>(resetMs));
              return;
            }
            // To the declared end of the body, which a client that goes on sending reaches.
            readBodyTo(record.declaredBodyLength);
            // A TCP close alone: a close_notify left unread would make a pooling client (WinINet)
            // take the connection for open and send its next request into it.
            return;
          case Misbehaviour::kCutAnswer:
            // An orderly TCP close without TLS's own: a reset could discard the half already sent.
            closesOnPurpose = SendAnswer(ssl, stopFd, options, whole / 2);
            return;
          case Misbehaviour::kStallInAnswer:
            if (SendAnswer(ssl, stopFd, options, whole / 2)) stall();
            return;
          default:
            if (!SendAnswer(ssl, stopFd, options, whole)) return;
            keptAlive = options.keepAliveMs > 0;
            if (!keptAlive) SSL_shutdown(ssl);
        }
      }();
      if (!keptAlive) break;
      Record(std::move(record));
      record = RecordedExchange{};
      recordedOne = true;
      if (!AwaitNextRequest(ssl, socket, stopFd, options.keepAliveMs)) {
        if (options.closeNotifyWhenIdle) SSL_shutdown(ssl);
        break;
      }
    }
  }

  if (reset) Reset(socket);
  SSL_free(ssl);
  close(socket);
  // The thread is detached: its OpenSSL state (random generators, error queue) is released now,
  // not at its exit, which may come after the process has ended and left the state unfreed.
  OPENSSL_thread_stop();
  // Reported only once the socket is closed, so that a waiting client meets the close at once.
  if (closesOnPurpose) MarkMisbehaved();
  // A kept-alive connection's end brings no request of its own unless one had begun.
  if (!recordedOne || !record.request.empty()) Record(std::move(record));
  std::lock_guard<std::mutex> lock(mutex);
  --active;
  changed.notify_all();
}

void TlsTestServer::State::Accept() {
  // A client that goes away mid-answer must cost the server a write error, not the process its
  // SIGPIPE. Blocked only on the server's threads (connection threads inherit the mask), so a
  // client in the same process would still die of a SIGPIPE that it caused itself.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (;;) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) return;
    const int socket = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::lock_guard<std::mutex> lock(mutex);
    ++accepted;
    ++active;
    changed.notify_all();
    std::thread([this, socket] { Serve(socket); }).detach();
  }
}

TlsTestServer::TlsTestServer(TlsServerOptions options) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.options = std::move(options);
  const TlsServerOptions& given = state.options;
  const auto fail = [&state](const std::string& what) {
    if (state.context != nullptr) SSL_CTX_free(state.context);
    if (state.listener >= 0) close(state.listener);
    for (int fd : state.stopPipe)
      if (fd >= 0) close(fd);
    throw std::runtime_error(std::string("test TLS server: ") + what);
  };
  state.context = SSL_CTX_new(TLS_server_method());
  if (state.context == nullptr ||
      SSL_CTX_use_certificate_chain_file(state.context, given.certificateFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(state.context, given.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    fail("certificate or key");
  }
  if (pipe2(state.stopPipe, O_CLOEXEC) != 0) fail("pipe");

  state.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state.listener < 0) fail("socket");
  const int yes = 1;
  setsockopt(state.listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (given.receiveBufferBytes > 0) {
    setsockopt(state.listener, SOL_SOCKET, SO_RCVBUF, &given.receiveBufferBytes,
               sizeof given.receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(given.port);
  socklen_t length = sizeof address;
  if (bind(state.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(state.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    fail("cannot listen on 127.0.0.1:" + std::to_string(given.port) + ": " + std::strerror(errno));
  }
  state.port = ntohs(address.sin_port);
  if (given.misbehaviour == Misbehaviour::kRefuse) return;
  if (listen(state.listener, 64) != 0) fail("listen");
  state.acceptor = std::thread([&state] { state.Accept(); });
}

TlsTestServer::~TlsTestServer() {
  State& state = *state_;
  const char stop = 1;
  [[maybe_unused]] const ssize_t written = write(state.stopPipe[1], &stop, 1);
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.stopping = true;
    state.changed.notify_all();
  }
  if (state.acceptor.joinable()) state.acceptor.join();
  {
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(lock, [&state] { return state.active == 0; });
  }
  close(state.listener);
  close(state.stopPipe[0]);
  close(state.stopPipe[1]);
  SSL_CTX_free(state.context);
}

uint16_t TlsTestServer::Port() const {
  return state_->port;
}

void TlsTestServer::Release() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->released = true;
  state_->changed.notify_all();
}

size_t TlsTestServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->accepted;
}

std::vector<RecordedExchange> TlsTestServer::WaitForExchanges(size_t count, unsigned waitMs) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [this, count] { return state_->finished.size() >= count; });
  return state_->finished;
}

bool TlsTestServer::WaitForMisbehaviour(unsigned waitMs) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                                  [this] { return state_->misbehaved; });
}

}  // namespace quorel::test
