#include "upload/write_checkpoint.h"

#include <cstdint>

#include "platform/http_backend.h"

namespace quorel::test {
namespace {

WriteCheckpoint checkpoint;
size_t nextWrite = 0;

bool WriteAfterCheckpoint(HttpRequest* request, const void* data, uint32_t count) {
  if (checkpoint) checkpoint(nextWrite);
  ++nextWrite;
  return kHttpBackend.write(request, data, count);
}

bool RefuseHeaders(HttpRequest*, const char*) {
  return false;
}

}  // namespace

void SetWriteCheckpoint(WriteCheckpoint replacement) {
  checkpoint = std::move(replacement);
  nextWrite = 0;
  HttpBackendInUse().write = checkpoint ? WriteAfterCheckpoint : kHttpBackend.write;
}

void SetHeaderSetUpFails(bool fails) {
  HttpBackendInUse().addHeaders = fails ? RefuseHeaders : kHttpBackend.addHeaders;
}

}  // namespace quorel::test
