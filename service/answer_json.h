// The JSON answers the service gives.
//   success: {"transcript": "...", "confidence": 0.0-1.0, "duration_seconds": N}
//   failure: {"error": {"status": N, "code": "...", "message": "..."}}
//   health:  {"status": "ok", "version": "..."}
#pragma once

#include <string>

namespace quorel::service {

std::string TranscriptAnswer(const std::string& transcript, double confidence,
                             double durationSeconds);

std::string HealthAnswer(const std::string& version);

std::string ErrorAnswer(int status, const std::string& code, const std::string& message);

// The short code and a plain message for a status the HTTP layer decided on its own.
std::string ErrorAnswerForStatus(int status);

}  // namespace quorel::service
