#include "service_reachability.h"

#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sstream>

#include "platform/http/curl/leaf_dates_policy.h"

namespace quorel::tool {

namespace {

constexpr int kConnectTimeoutMs = 10000;

struct Closer {
  void operator()(int* fd) const {
    if (*fd >= 0) close(*fd);
    delete fd;
  }
};
using Socket = std::unique_ptr<int, Closer>;

// A connected socket to one of the addresses, or the reason none took the connection.
Socket Connect(const addrinfo* addresses, std::string* problem) {
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    Socket socket(new int(
        ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol)));
    if (*socket < 0) continue;
    fcntl(*socket, F_SETFL, O_NONBLOCK);
    int error = ::connect(*socket, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd watched{*socket, POLLOUT, 0};
      socklen_t length = sizeof error;
      error = poll(&watched, 1, kConnectTimeoutMs) == 1 &&
                      getsockopt(*socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                  ? error
                  : ETIMEDOUT;
    }
    if (error == 0) {
      fcntl(*socket, F_SETFL, 0);
      return socket;
    }
    *problem = error == ETIMEDOUT
                   ? "did not answer within " + std::to_string(kConnectTimeoutMs / 1000) + " s"
                   : std::string("refused the connection (") + std::strerror(error) +
                         "): is the service running?";
  }
  return nullptr;
}

std::string TrustStoreName(const ServiceEndpoint& endpoint) {
  return endpoint.caFile.empty()
             ? std::string("the system's trust store (") + X509_get_default_cert_dir() + ")"
             : endpoint.caFile;
}

// Empty when the handshake and the certificate check pass, else why not.
std::string Handshake(int socket, const ServiceEndpoint& endpoint) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                            SSL_CTX_free);
  if (!context) return "cannot be checked: TLS could not be set up";
  const bool storeLoaded =
      endpoint.caFile.empty()
          ? SSL_CTX_set_default_verify_paths(context.get()) == 1
          : SSL_CTX_load_verify_locations(context.get(), endpoint.caFile.c_str(), nullptr) == 1;
  if (!storeLoaded) {
    return "cannot be checked: the trust store " + TrustStoreName(endpoint) + " cannot be read";
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, VerifyOverlookingLeafDates);
  std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context.get()), SSL_free);
  if (!tls) return "cannot be checked: TLS could not be set up";
  SSL_set_fd(tls.get(), socket);
  SSL_set_tlsext_host_name(tls.get(), endpoint.host.c_str());
  if (!endpoint.acceptMismatchedNames) SSL_set1_host(tls.get(), endpoint.host.c_str());
  ERR_clear_error();
  if (SSL_connect(tls.get()) == 1) return "";
  const long verdict = SSL_get_verify_result(tls.get());
  if (verdict != X509_V_OK) {
    return std::string("presents a certificate that is not trusted (") +
           X509_verify_cert_error_string(verdict) + ") by " + TrustStoreName(endpoint);
  }
  const unsigned long error = ERR_get_error();
  return std::string("failed the TLS handshake (") +
         (error != 0 ? ERR_reason_error_string(error) : "the connection closed") + ")";
}

std::string Where(const ServiceEndpoint& endpoint) {
  return endpoint.host + " port " + std::to_string(endpoint.port);
}

// The first of names set to a non-empty value; name, when given, receives which.
std::string FromEnvironment(std::initializer_list<const char*> names, std::string* name = nullptr) {
  for (const char* candidate : names) {
    const char* value = std::getenv(candidate);
    if (value != nullptr && value[0] != 0) {
      if (name != nullptr) *name = candidate;
      return value;
    }
  }
  return "";
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Whether a no_proxy list names host: "*", the host itself, or a domain it lies in.
bool Excluded(const std::string& list, const std::string& host) {
  const std::string name = Lowercase(host);
  std::istringstream entries(list);
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    entry.erase(0, entry.find_first_not_of(" \t"));
    entry.erase(entry.find_last_not_of(" \t") + 1);
    if (entry == "*") return true;
    entry = Lowercase(entry.substr(entry.empty() || entry[0] != '.' ? 0 : 1));
    if (entry.empty()) continue;
    if (name == entry || (name.size() > entry.size() &&
                          name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
                          name[name.size() - entry.size() - 1] == '.')) {
      return true;
    }
  }
  return false;
}

}  // namespace

ServiceProxy ProxyFor(const std::string& host) {
  ServiceProxy proxy;
  const std::string list = FromEnvironment({"no_proxy", "NO_PROXY"});
  if (!Excluded(list, host)) {
    proxy.address =
        FromEnvironment({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}, &proxy.variable);
  }
  proxy.remedy = "no_proxy=" + (list.empty() ? host : list + "," + host);
  return proxy;
}

std::string WhyUnreachable(const ServiceEndpoint& endpoint) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const int resolved =
      getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &addresses);
  if (resolved != 0) {
    return "the host name " + endpoint.host + " does not resolve (" + gai_strerror(resolved) +
           "), port " + std::to_string(endpoint.port);
  }
  std::string problem;
  const Socket socket = Connect(addresses, &problem);
  freeaddrinfo(addresses);
  if (!socket) return Where(endpoint) + " " + problem;
  problem = Handshake(*socket, endpoint);
  return problem.empty() ? "" : Where(endpoint) + " " + problem;
}

std::string DescribeServiceEndpoint(const ServiceEndpoint& endpoint) {
  return "service: https://" + endpoint.host + ":" + std::to_string(endpoint.port) +
         "/\ntrust store: " + TrustStoreName(endpoint) +
         (endpoint.acceptMismatchedNames ? "\ncertificate names: not checked" : "") + "\n";
}

std::string DiagnoseUnreachable(const ServiceEndpoint& endpoint) {
  const std::string direct = WhyUnreachable(endpoint);
  const ServiceProxy proxy = ProxyFor(endpoint.host);
  if (proxy.address.empty()) {
    return direct.empty()
               ? Where(endpoint) +
                     " answers and is trusted now: the failure may have passed; try again"
               : direct;
  }
  const std::string through =
      "the library goes through the proxy " + proxy.address + " (set in " + proxy.variable + ")";
  if (direct.empty()) {
    return through + ", which did not reach the service, while " + Where(endpoint) +
           " answers directly and is trusted: to go direct, set " + proxy.remedy;
  }
  return direct + " (checked directly; " + through + ": to go direct, set " + proxy.remedy + ")";
}

}  // namespace quorel::tool
