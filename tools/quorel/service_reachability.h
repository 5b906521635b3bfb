// The service this build of the library talks to, and what stands between the tool and it when
// the library could not begin an exchange (result code 5).
#pragma once

#include <string>

namespace quorel::tool {

struct ServiceEndpoint {
  std::string host;
  int port = 0;
  std::string caFile;  // empty: the system's trust store
  bool acceptMismatchedNames = false;
};

// "https://localhost:443/" and the trust store, for --version.
std::string DescribeServiceEndpoint(const ServiceEndpoint& endpoint);

// The proxy the library's HTTPS client takes from the environment for a host: https_proxy,
// HTTPS_PROXY, all_proxy or ALL_PROXY, unless no_proxy (or NO_PROXY) names the host ("*", the
// host, or a domain it lies in).
struct ServiceProxy {
  std::string address;   // empty: the library connects directly
  std::string variable;  // where address came from
  std::string remedy;    // the no_proxy setting that makes the library go direct
};
ServiceProxy ProxyFor(const std::string& host);

// Empty when the service answers directly and its certificate is trusted, else what stands in
// the way (as DiagnoseUnreachable says it, without any proxy).
std::string WhyUnreachable(const ServiceEndpoint& endpoint);

// Resolves the host, connects, and makes a TLS handshake of its own against the same trust
// store, and says which step failed: the name does not resolve, the connection is refused or
// times out, or the certificate is not trusted. Names host and port in every case, and a proxy
// the library goes through with the no_proxy setting that avoids it.
std::string DiagnoseUnreachable(const ServiceEndpoint& endpoint);

}  // namespace quorel::tool
