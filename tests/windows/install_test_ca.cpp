// Adds every certificate of a PEM file to the local machine's Root store of the running (Wine)
// prefix, so that the library's TLS checks trust the test servers exactly as they would a
// public CA. Usage: install_test_ca.exe ca.pem
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "pem_certificates.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: install_test_ca ca.pem\n");
    return 2;
  }
  const std::string name = argv[1];
  const auto certificates =
      quorel::test::ReadPemCertificates(std::wstring(name.begin(), name.end()));
  if (certificates.empty()) {
    std::fprintf(stderr, "%s holds no PEM certificate that can be read\n", argv[1]);
    return 1;
  }
  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == nullptr) {
    std::fprintf(stderr, "cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  bool added = true;
  for (const auto& der : certificates) {
    if (!CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "cannot add a certificate (error %lu)\n", GetLastError());
      added = false;
    }
  }
  CertCloseStore(root, 0);
  return added ? 0 : 1;
}
