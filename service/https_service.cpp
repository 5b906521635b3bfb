#include "https_service.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <ctime>
#include <list>
#include <map>
#include <utility>
#include <vector>

#include "connection_limits.h"
#include "log_line.h"
#include "service_connection.h"

namespace quorel::service {

namespace net = boost::asio;
using boost::system::error_code;
using net::ip::tcp;

namespace {

constexpr std::chrono::milliseconds kAcceptRetry{100};

struct Listener {
  explicit Listener(net::io_context& io) : acceptor(io), retry(io) {}
  tcp::acceptor acceptor;
  net::steady_timer retry;  // after a failed accept
};

}  // namespace

// Everything here is touched on the I/O thread only, apart from Stop's post.
struct HttpsService::Loop {
  Loop(const HttpsSettings& settings, const AccessKeys& keys, Recogniser& recogniser)
      : pool(settings.recognitionWorkers, kRecognitionLine),
        budget(settings.bodyMemoryBytes),
        hub{keys,
            recogniser,
            pool,
            budget,
            std::min(settings.maxBodyBytes, settings.bodyMemoryBytes),
            settings.version,
            failedHandshakes,
            yieldedSlots,
            false,
            [this](ServiceConnection* connection) { Forget(connection); },
            [this] { OnYieldable(); }} {}

  void Accept(Listener& listener) {
    listener.acceptor.async_accept([this, &listener](error_code error, tcp::socket socket) {
      if (hub.stopping) return;
      if (error) {  // out of descriptors, or the client left at once: try again shortly
        listener.retry.expires_after(kAcceptRetry);
        listener.retry.async_wait([this, &listener](error_code waited) {
          if (!waited && !hub.stopping) Accept(listener);
        });
        return;
      }
      // An answer leaves as more than one TLS record; Nagle's algorithm would hold the last
      // one back for the client's delayed acknowledgement (40 ms).
      socket.set_option(tcp::no_delay(true), error);
      if (open.size() >= kMaxConnections) {
        ServiceConnection* yielding = FindYielding();
        if (yielding == nullptr) {
          // Every connection is under way: this one is closed, and further clients wait in the
          // backlog until one closes or may yield its slot.
          refusedSlots.Note(FormatConnectionLogLine(
              PeerOf(socket), "refused: every connection slot is busy", std::time(nullptr)));
          socket.close(error);
          paused.push_back(&listener);
          return;
        }
        yielding->Yield();
      }
      auto connection = std::make_shared<ServiceConnection>(std::move(socket), tls, hub);
      open.emplace(connection.get(), connection);
      connection->Start();
      Accept(listener);
    });
  }

  void Resume() {
    for (Listener* listener : std::exchange(paused, {})) Accept(*listener);
  }

  // The connection that has done least, oldest first; none when every one is under way.
  ServiceConnection* FindYielding() const {
    ServiceConnection* found = nullptr;
    int foundRank = 0;
    for (const auto& [connection, alive] : open) {
      const int rank = connection->YieldRank();
      if (rank < 0) continue;
      if (found == nullptr || rank < foundRank ||
          (rank == foundRank && connection->AcceptedAt() < found->AcceptedAt())) {
        found = connection;
        foundRank = rank;
      }
    }
    return found;
  }

  void OnYieldable() {
    if (!hub.stopping) Resume();
  }

  void Forget(ServiceConnection* connection) {
    open.erase(connection);
    if (!hub.stopping && open.size() < kMaxConnections) Resume();
  }

  void BeginStop() {
    if (hub.stopping) return;
    hub.stopping = true;
    error_code ignored;
    for (Listener& listener : listeners) {
      listener.acceptor.close(ignored);
      listener.retry.cancel();
    }
    failedHandshakes.Flush();
    yieldedSlots.Flush();
    refusedSlots.Flush();
    std::vector<std::shared_ptr<ServiceConnection>> stopping;
    for (const auto& [pointer, connection] : open) {
      if (auto alive = connection.lock()) stopping.push_back(std::move(alive));
    }
    for (const auto& connection : stopping) connection->Stop();
  }

  // Declared first, destroyed last: pool jobs post their answers back to it.
  net::io_context io{1};
  net::ssl::context tls{net::ssl::context::tls_server};
  std::list<Listener> listeners;  // a list: handlers hold references to its elements
  RecognitionPool pool;
  BodyBudget budget;
  RepeatedEventLog failedHandshakes{io.get_executor(), "more TLS handshakes failed"};
  RepeatedEventLog yieldedSlots{io.get_executor(),
                                "more connections closed to make room for new ones"};
  RepeatedEventLog refusedSlots{io.get_executor(),
                                "more connections refused: every connection slot was busy"};
  ConnectionHub hub;
  std::map<ServiceConnection*, std::weak_ptr<ServiceConnection>> open;
  std::vector<Listener*> paused;  // found every slot taken when it accepted: waits for one
};

HttpsService::HttpsService(const HttpsSettings& settings, const ServiceCertificates& certificates,
                           const AccessKeys& keys, Recogniser& recogniser)
    : settings_(settings),
      certificates_(certificates),
      loop_(std::make_unique<Loop>(settings_, keys, recogniser)) {}

HttpsService::~HttpsService() = default;

bool HttpsService::Bind(std::string* problem) {
  error_code error;
  net::ssl::context& tls = loop_->tls;
  tls.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                  net::ssl::context::no_sslv3 | net::ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
  tls.use_certificate_chain_file(certificates_.certificateFile, error);
  // OpenSSL also refuses a key that does not belong to the certificate here.
  if (!error) tls.use_private_key_file(certificates_.keyFile, net::ssl::context::pem, error);
  if (error) {
    *problem = "the TLS certificate " + certificates_.certificateFile + " or its key " +
               certificates_.keyFile + " cannot be used: " + error.message();
    return false;
  }

  for (const ListenAddress& listen : settings_.listen) {
    const tcp::endpoint endpoint(net::ip::make_address(listen.address, error),
                                 static_cast<unsigned short>(listen.port));
    tcp::acceptor& acceptor = loop_->listeners.emplace_back(loop_->io).acceptor;
    // SO_REUSEADDR only lets a restart bind past connections in TIME_WAIT; on Linux it never
    // lets a second listener share the port (that would take SO_REUSEPORT, which is not set).
    // An IPv6 address takes IPv6 only, so that [::] and 0.0.0.0 may both be given.
    if (!error) acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error && endpoint.address().is_v6()) acceptor.set_option(net::ip::v6_only(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(kListenBacklog, error);
    if (error) {
      *problem = "cannot listen on " + FormatListenAddress(listen) + ": " +
                 (error == net::error::address_in_use
                      ? std::string("the port is taken (is another service running on it?)")
                      : error.message());
      return false;
    }
    listening_.push_back({listen.address, acceptor.local_endpoint().port()});
  }
  return true;
}

void HttpsService::Serve() {
  for (Listener& listener : loop_->listeners) loop_->Accept(listener);
  loop_->io.run();
}

void HttpsService::Stop() {
  net::post(loop_->io, [loop = loop_.get()] { loop->BeginStop(); });
}

}  // namespace quorel::service
