#include "answer_json.h"

#include <nlohmann/json.hpp>

namespace quorel::service {

namespace {

// Replaces bytes that are not UTF-8 rather than failing on them.
std::string Dump(const nlohmann::json& answer) {
  return answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string TranscriptAnswer(const std::string& transcript, double confidence,
                             double durationSeconds) {
  return Dump({{"transcript", transcript},
               {"confidence", confidence},
               {"duration_seconds", durationSeconds}});
}

std::string ErrorAnswer(int status, const std::string& code, const std::string& message) {
  return Dump({{"error", {{"status", status}, {"code", code}, {"message", message}}}});
}

std::string ErrorAnswerForStatus(int status) {
  switch (status) {
    case 400:
      return ErrorAnswer(status, "malformed_request", "the request could not be read");
    case 404:
      return ErrorAnswer(status, "not_found", "no such resource");
    case 405:
      return ErrorAnswer(status, "method_not_allowed", "only POST is served");
    case 408:
      return ErrorAnswer(status, "request_timeout", "the request did not arrive in time");
    case 413:
      return ErrorAnswer(status, "body_too_large", "the request body is over the service's limit");
    case 414:
      return ErrorAnswer(status, "target_too_long", "the request target is too long");
    case 415:
      return ErrorAnswer(status, "unsupported_media_type",
                         "the body must be sent as audio/l16 in a multipart envelope");
    case 431:
      return ErrorAnswer(status, "headers_too_large",
                         "the request's header fields are over the service's limit");
    case 503:
      return ErrorAnswer(status, "service_busy",
                         "the service is busy or stopping; try again shortly");
    default:
      return ErrorAnswer(
          status, status >= 500 ? "internal_error" : "request_refused",
          status >= 500 ? "the service failed to handle the request" : "the request was refused");
  }
}

}  // namespace quorel::service
