// GET /healthz: that the service is up and which version it is, for load balancers and service
// managers. It needs no key and is not logged, since such checkers ask every few seconds.
#pragma once

#include <string_view>

#include "speech_request.h"

namespace quorel::service {

inline constexpr std::string_view kHealthPath = "/healthz";

// The path is /healthz, whatever the query.
bool IsHealthCheck(std::string_view target);

// 200 {"status": "ok", "version": ...} to GET; 405 to other methods.
SpeechReply AnswerHealthCheck(std::string_view method, const std::string& version);

}  // namespace quorel::service
