// A recorded request taken apart, and the check of a whole upload as it must stand on the wire,
// the same on both systems.
#pragma once

#include <cstddef>
#include <string>

namespace quorel::test {

struct ParsedRequest {
  std::string requestLine;
  std::string headerLines;  // CR LF separated, without the request line and the blank line
  std::string body;
  bool complete = false;  // a header end, and as many body bytes as Content-Length declares
};
// Splits a recorded request at its first blank line; an empty requestLine when there is none.
ParsedRequest ParseRequest(const std::string& raw);

// Values of every header field named name (case-insensitive), joined by '|'; the count in *count.
std::string FieldValues(const std::string& headerLines, const std::string& name, int* count);

// Bytes that vary along the file, so a lost, doubled or moved chunk shows.
std::string PatternedBytes(size_t count);

// Whether a request may carry header fields beyond the block's own: a backend may add some.
enum class OtherFields { kAllowed, kNone };

// What is wrong with a recorded request as the upload of file with the target's key as it must
// stand on the wire: the request line, the header fields once each with the block's values, the
// declared length, no chunking, and the body byte for byte. With OtherFields::kNone the header
// lines are exactly the block's (its last line, the boundary, may be left out). Empty when
// nothing is.
std::string WireRequestFaults(const std::string& raw, const std::string& file,
                              const std::string& key, OtherFields others = OtherFields::kAllowed);

}  // namespace quorel::test
