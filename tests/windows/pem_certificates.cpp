#include "pem_certificates.h"

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

#include "support/portable/file_bytes.h"

namespace quorel::test {

std::vector<std::vector<unsigned char>> ReadPemCertificates(const std::wstring& path) {
  const std::string pem = ReadFile(path);
  constexpr char kEnd[] = "-----END CERTIFICATE-----";
  std::vector<std::vector<unsigned char>> certificates;
  for (size_t begin = pem.find("-----BEGIN CERTIFICATE-----"); begin != std::string::npos;
       begin = pem.find("-----BEGIN CERTIFICATE-----", begin + 1)) {
    const size_t end = pem.find(kEnd, begin);
    if (end == std::string::npos) return {};
    const DWORD length = static_cast<DWORD>(end + sizeof kEnd - 1 - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
      return {};
    }
    std::vector<unsigned char> der(size);
    CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    certificates.push_back(std::move(der));
  }
  return certificates;
}

}  // namespace quorel::test
