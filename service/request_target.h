// The request target the library sends: "/speech-api/v2/recognize?output=json&lang=en-us&key=KEY".
// output and lang may be left out (json and en-us are all the service gives), or come in either
// order, once each; nothing else may stand before the key.
#pragma once

#include <string>
#include <string_view>

namespace quorel::service {

inline constexpr std::string_view kRecognizePath = "/speech-api/v2/recognize";

enum class TargetVerdict {
  kAccepted,
  kUnknownPath,     // 404
  kMalformedQuery,  // 400
  kMissingKey,      // 401
};

struct RequestTarget {
  TargetVerdict verdict = TargetVerdict::kMalformedQuery;
  std::string problem;  // plain words for the error answer; empty when accepted
  // The key exactly as it stands in the target (still percent-encoded where the client encoded).
  std::string_view wireKey;
};

// The key must be the last parameter: the library inserts it unescaped apart from
// percent-encoding, so a key may itself hold "&" or "=" and runs to the end of the target.
RequestTarget ParseRequestTarget(std::string_view target);

// The form a key takes in the target: controls, space, DEL, bytes of non-ASCII characters and
// " < > \ ^ ` { | } percent-encoded; everything else as it is.
std::string EncodeKeyForTarget(std::string_view key);

// The target with the key masked, for logs, whatever form the client gave the parameter in.
std::string RedactKey(std::string_view target);

}  // namespace quorel::service
