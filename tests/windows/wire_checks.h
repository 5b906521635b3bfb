// The wire side of the upload tests: what scripts/test-windows.sh tells the programs about the
// test TLS servers it runs, and the requests those servers record (checked by the shared
// support/portable/wire_request.h).
#pragma once

#include <cstdint>
#include <string>

#include "support/portable/wire_request.h"

namespace quorel::test {

// The value of an environment variable the script exported; empty when absent.
std::wstring EnvironmentText(const std::string& name);
// The port of the test server that the script exported as QUOREL_PORT_<name>; 0 when absent.
uint16_t ServerPort(const char* name);

// A folder where a test server writes request-1.bin, request-2.bin, ... one per exchange,
// in order; the script exports its Windows path as QUOREL_RECORDS_<name>.
class RecordedRequests {
 public:
  explicit RecordedRequests(const char* name);
  // Exchanges recorded so far.
  size_t Count() const;
  // The request of exchange number index (from 1), once the server has written it whole (or
  // as far as it came, when whole is false); "<none>" when it does not come within half a
  // minute.
  std::string Wait(size_t index, bool whole = true) const;

 private:
  std::wstring folder_;
};

}  // namespace quorel::test
