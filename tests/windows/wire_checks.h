// The wire side of the upload tests: what scripts/test-windows.sh tells the programs about the
// test TLS servers it runs, the requests those servers record, and the checks made on them.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::test {

// The port of the test server that the script exported as QUOREL_PORT_<name>; 0 when absent.
uint16_t ServerPort(const char* name);

// A folder where a test server writes request-1.bin, request-2.bin, ... one per exchange,
// in order; the script exports its Windows path as QUOREL_RECORDS_<name>.
class RecordedRequests {
 public:
  explicit RecordedRequests(const char* name);
  // Exchanges recorded so far.
  size_t Count() const;
  // The request of exchange number index (from 1), once the server has written it whole;
  // "<none>" when it does not come within half a minute.
  std::string Wait(size_t index) const;

 private:
  std::wstring folder_;
};

// Bytes that vary along the file, so a lost, doubled or moved chunk shows.
std::string PatternedBytes(size_t count);

// Checks a recorded request against what the upload must send for file and the target's key
// as it must stand on the wire: the request line, the header fields once each with their
// values, the declared length, and the body byte for byte.
void CheckWireRequest(const std::string& raw, const std::string& file, const std::string& key);

}  // namespace quorel::test
