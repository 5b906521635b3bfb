// Adds every certificate of a PEM file to the local machine's Root store of the running (Wine)
// prefix, so that the library's TLS checks trust the test servers exactly as they would a
// public CA. Usage: install_test_ca.exe ca.pem
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Adds the first PEM certificate at pem; false with a message when it cannot.
bool AddCertificate(HCERTSTORE root, const char* pem, DWORD length) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                            nullptr)) {
    std::fprintf(stderr, "not a PEM certificate\n");
    return false;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
  if (!CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "cannot add a certificate (error %lu)\n", GetLastError());
    return false;
  }
  return true;
}

}  // namespace

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
  pem.push_back(0);

  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == nullptr) {
    std::fprintf(stderr, "cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
  constexpr char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  bool ok = true;
  for (const char* at = std::strstr(pem.data(), kBegin); ok && at != nullptr;
       at = std::strstr(at + 1, kBegin)) {
    const char* end = std::strstr(at, kEnd);
    ok = end != nullptr && AddCertificate(root, at, static_cast<DWORD>(end + sizeof kEnd - 1 - at));
    ++added;
  }
  CertCloseStore(root, 0);
  if (added == 0) std::fprintf(stderr, "%s holds no PEM certificate\n", argv[1]);
  return ok && added > 0 ? 0 : 1;
}
