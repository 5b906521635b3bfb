#include "upload/write_checkpoint.h"

#include <cstdint>

#include "platform/http_exchange.h"

namespace quorel::test {
namespace {

WriteCheckpoint checkpoint;
size_t nextWrite = 0;
bool headerSetUpFails = false;

}  // namespace

void SetWriteCheckpoint(WriteCheckpoint replacement) {
  checkpoint = std::move(replacement);
  nextWrite = 0;
}

void SetHeaderSetUpFails(bool fails) {
  headerSetUpFails = fails;
}

}  // namespace quorel::test

// The mangled names of quorel::HttpWrite(HttpRequest*, const void*, uint32_t) and
// quorel::HttpAddHeaders(HttpRequest*, const char16_t*).
extern "C" bool __real__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(quorel::HttpRequest* request,
                                                                   const void* data,
                                                                   uint32_t count);
extern "C" bool __real__ZN6quorel14HttpAddHeadersEPNS_11HttpRequestEPKDs(
    quorel::HttpRequest* request, const char16_t* headerBlock);

extern "C" bool __wrap__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(quorel::HttpRequest* request,
                                                                   const void* data,
                                                                   uint32_t count) {
  using quorel::test::checkpoint;
  if (checkpoint) checkpoint(quorel::test::nextWrite);
  ++quorel::test::nextWrite;
  return __real__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(request, data, count);
}

extern "C" bool __wrap__ZN6quorel14HttpAddHeadersEPNS_11HttpRequestEPKDs(
    quorel::HttpRequest* request, const char16_t* headerBlock) {
  if (quorel::test::headerSetUpFails) return false;
  return __real__ZN6quorel14HttpAddHeadersEPNS_11HttpRequestEPKDs(request, headerBlock);
}
