// Adds a PEM certificate to the local machine's Root store of the running (Wine) prefix, so
// that the library's TLS checks trust the test servers exactly as they would a public CA.
// Usage: install_test_ca.exe ca.pem
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: install_test_ca ca.pem\n");
    return 2;
  }
  FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<char> pem(1 << 16);
  pem.resize(std::fread(pem.data(), 1, pem.size(), file));
  std::fclose(file);

  DWORD size = 0;
  const DWORD pemLength = static_cast<DWORD>(pem.size());
  if (!CryptStringToBinaryA(pem.data(), pemLength, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr)) {
    std::fprintf(stderr, "%s holds no PEM certificate\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.data(), pemLength, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                       nullptr);

  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == nullptr) {
    std::fprintf(stderr, "cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(root, 0);
  if (!added) {
    std::fprintf(stderr, "cannot add the certificate (error %lu)\n", error);
    return 1;
  }
  return 0;
}
