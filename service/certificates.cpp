#include "certificates.h"

#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "certificate_issuer.h"

namespace quorel::service {

namespace {

constexpr long kSecondsPerDay = 86400;
constexpr long kAuthorityDays = 3650;
constexpr long kLocalhostDays = 825;  // the longest life clients accept for a server certificate
constexpr long kClockGrace = -3600;   // an hour for clocks that lag behind this one

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

bool CreateCertificates(const ServiceCertificates& files) {
  const Key authorityKey = NewKey();
  const Key localhostKey = NewKey();
  if (!authorityKey || !localhostKey) return false;
  const Certificate authority =
      IssueCertificate("quorel-service local authority", authorityKey.get(), nullptr,
                       authorityKey.get(), kClockGrace, kAuthorityDays * kSecondsPerDay,
                       {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                        {NID_key_usage, "critical,keyCertSign,cRLSign"},
                        {NID_subject_key_identifier, "hash"},
                        {NID_authority_key_identifier, "keyid:always"}});
  if (!authority) return false;
  const Certificate localhost =
      IssueCertificate("localhost", localhostKey.get(), authority.get(), authorityKey.get(),
                       kClockGrace, kLocalhostDays * kSecondsPerDay,
                       {{NID_basic_constraints, "critical,CA:FALSE"},
                        {NID_key_usage, "critical,digitalSignature"},
                        {NID_ext_key_usage, "serverAuth"},
                        {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
                        {NID_subject_key_identifier, "hash"},
                        {NID_authority_key_identifier, "keyid:always"}});
  if (!localhost) return false;
  // The authority's key is never stored: it signs this one certificate and is gone, so nothing
  // else can be made that a library trusting the authority would accept.
  return WriteKeyFile(files.keyFile, localhostKey.get()) &&
         WriteCertificateFile(files.certificateFile, {localhost.get()}) &&
         WriteCertificateFile(files.authorityFile, {authority.get()});
}

}  // namespace

bool PrepareCertificates(const std::string& stateFolder, ServiceCertificates* certificates,
                         std::string* problem) {
  certificates->authorityFile = stateFolder + "/authority.pem";
  certificates->certificateFile = stateFolder + "/localhost.pem";
  certificates->keyFile = stateFolder + "/localhost-key.pem";
  certificates->created = false;
  // The folder holds the private key: one that others can enter or change is not kept private.
  struct stat folder;
  if (stat(stateFolder.c_str(), &folder) == 0 && (folder.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(folder.st_mode & 07777));
    *problem = "the state folder " + stateFolder + " is open to other users (mode " + mode +
               "); make it private with: chmod 700 " + stateFolder;
    return false;
  }
  if (Exists(certificates->authorityFile) && Exists(certificates->certificateFile) &&
      Exists(certificates->keyFile)) {
    return true;
  }
  if (!MakeFolders(stateFolder)) {
    *problem = "cannot create the state folder " + stateFolder + ": " + std::strerror(errno);
    return false;
  }
  if (!CreateCertificates(*certificates)) {
    *problem = "cannot create the certificates in " + stateFolder;
    return false;
  }
  certificates->created = true;
  return true;
}

}  // namespace quorel::service
