#include "certificates.h"

#include <openssl/x509v3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "certificate_issuer.h"

namespace quorel::service {

namespace {

constexpr long kSecondsPerDay = 86400;
constexpr long kAuthorityDays = 3650;
constexpr long kLocalhostDays = 825;  // the longest life clients accept for a server certificate
constexpr long kClockGrace = -3600;   // an hour for clocks that lag behind this one

bool Exists(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

// The reason when they cannot be made, "" when they were.
std::string CreateCertificates(const ServiceCertificates& files) {
  const std::string unmade = "OpenSSL could not make the ";
  const Key authorityKey = NewKey();
  const Key localhostKey = NewKey();
  if (!authorityKey || !localhostKey) return unmade + "keys: " + OpenSslError();
  const Certificate authority =
      IssueCertificate("quorel-service local authority", authorityKey.get(), nullptr,
                       authorityKey.get(), kClockGrace, kAuthorityDays * kSecondsPerDay,
                       {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                        {NID_key_usage, "critical,keyCertSign,cRLSign"},
                        {NID_subject_key_identifier, "hash"},
                        {NID_authority_key_identifier, "keyid:always"}});
  if (!authority) return unmade + "authority: " + OpenSslError();
  const Certificate localhost =
      IssueCertificate("localhost", localhostKey.get(), authority.get(), authorityKey.get(),
                       kClockGrace, kLocalhostDays * kSecondsPerDay,
                       {{NID_basic_constraints, "critical,CA:FALSE"},
                        {NID_key_usage, "critical,digitalSignature"},
                        {NID_ext_key_usage, "serverAuth"},
                        {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
                        {NID_subject_key_identifier, "hash"},
                        {NID_authority_key_identifier, "keyid:always"}});
  if (!localhost) return unmade + "localhost certificate: " + OpenSslError();
  // The authority's key is never stored: it signs this one certificate and is gone, so nothing
  // else can be made that a library trusting the authority would accept.
  const std::string* unwritten =
      !WriteKeyFile(files.keyFile, localhostKey.get())                  ? &files.keyFile
      : !WriteCertificateFile(files.certificateFile, {localhost.get()}) ? &files.certificateFile
      : !WriteCertificateFile(files.authorityFile, {authority.get()})   ? &files.authorityFile
                                                                        : nullptr;
  return unwritten == nullptr ? "" : "cannot write " + *unwritten + ": " + std::strerror(errno);
}

}  // namespace

bool PrepareCertificates(const std::string& stateFolder, ServiceCertificates* certificates,
                         std::string* problem) {
  certificates->authorityFile = stateFolder + "/authority.pem";
  certificates->certificateFile = stateFolder + "/localhost.pem";
  certificates->keyFile = stateFolder + "/localhost-key.pem";
  certificates->created = false;
  if (Exists(certificates->authorityFile) && Exists(certificates->certificateFile) &&
      Exists(certificates->keyFile)) {
    return true;
  }
  const std::string unmade = CreateCertificates(*certificates);
  if (!unmade.empty()) {
    *problem = "cannot create the certificates in " + stateFolder + ": " + unmade;
    return false;
  }
  certificates->created = true;
  return true;
}

}  // namespace quorel::service
