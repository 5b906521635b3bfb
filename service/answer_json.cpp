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

std::string HealthAnswer(const std::string& version) {
  return Dump({{"status", "ok"}, {"version", version}});
}

std::string ErrorAnswer(int status, const std::string& code, const std::string& message) {
  return Dump({{"error", {{"status", status}, {"code", code}, {"message", message}}}});
}

std::string ErrorAnswerForStatus(int status) {
  static const struct {
    int status;
    const char* code;
    const char* message;
  } kErrors[] = {
      {400, "malformed_request", "the request could not be read"},
      {404, "not_found", "no such resource"},
      {405, "method_not_allowed", "only POST is served"},
      {408, "request_timeout", "the request did not arrive in time"},
      {413, "body_too_large", "the request body is over the service's limit"},
      {414, "target_too_long", "the request target is too long"},
      {415, "unsupported_media_type", "the body must be sent as audio/l16 in a multipart envelope"},
      {431, "headers_too_large", "the request's header fields are over the service's limit"},
      {503, "service_busy", "the service is busy or stopping; try again shortly"},
  };
  for (const auto& error : kErrors) {
    if (error.status == status) return ErrorAnswer(status, error.code, error.message);
  }
  return ErrorAnswer(
      status, status >= 500 ? "internal_error" : "request_refused",
      status >= 500 ? "the service failed to handle the request" : "the request was refused");
}

}  // namespace quorel::service
