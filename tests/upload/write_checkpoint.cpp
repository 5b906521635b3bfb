#include "upload/write_checkpoint.h"

#include <cstdint>

#include "platform/http_exchange.h"

namespace quorel::test {
namespace {

WriteCheckpoint checkpoint;
size_t nextWrite = 0;

}  // namespace

void SetWriteCheckpoint(WriteCheckpoint replacement) {
  checkpoint = std::move(replacement);
  nextWrite = 0;
}

}  // namespace quorel::test

// The mangled name of quorel::HttpWrite(HttpRequest*, const void*, uint32_t).
extern "C" bool __real__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(quorel::HttpRequest* request,
                                                                   const void* data,
                                                                   uint32_t count);

extern "C" bool __wrap__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(quorel::HttpRequest* request,
                                                                   const void* data,
                                                                   uint32_t count) {
  using quorel::test::checkpoint;
  if (checkpoint) checkpoint(quorel::test::nextWrite);
  ++quorel::test::nextWrite;
  return __real__ZN6quorel9HttpWriteEPNS_11HttpRequestEPKvj(request, data, count);
}
