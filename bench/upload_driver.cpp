// One upload, as the exported call makes it, to a test server on this machine.
// Usage: quorel_bench_upload AUDIO RESPONSE PORT CA_FILE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_transaction.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s AUDIO RESPONSE PORT CA_FILE\n", argv[0]);
    return 2;
  }
  const std::string audio = argv[1];
  const std::string response = argv[2];
  const quorel::HttpEndpoint endpoint{u"localhost",
                                      static_cast<uint16_t>(std::atoi(argv[3])),
                                      argv[4],
                                      false,
                                      quorel::kConnectTimeoutMs,
                                      quorel::kStallTimeoutMs};
  const int32_t result =
      quorel::UploadSpeech(endpoint, std::u16string(audio.begin(), audio.end()).c_str(), u"KEY",
                           std::u16string(response.begin(), response.end()).c_str());
  if (result == QUOREL_SUCCESS) return 0;
  std::fprintf(stderr, "upload failed with %d\n", result);
  return 1;
}
