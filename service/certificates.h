// The service's TLS identity: a local certificate authority and a certificate for localhost
// (DNS name localhost, IP 127.0.0.1 and ::1) that it signs, kept in the state folder so that a
// build of the library can trust the authority.
#pragma once

#include <string>

namespace quorel::service {

struct ServiceCertificates {
  std::string authorityFile;    // PEM certificate of the local authority: what clients trust
  std::string certificateFile;  // PEM certificate of localhost
  std::string keyFile;          // PEM private key of localhost, readable by the owner only
  bool created = false;         // made on this start
};

// Uses the files in stateFolder (a StateFolder the caller holds), or makes the authority and the
// localhost certificate when any of them is missing. False with the reason when that fails.
bool PrepareCertificates(const std::string& stateFolder, ServiceCertificates* certificates,
                         std::string* problem);

}  // namespace quorel::service
