#include "health_check.h"

#include "answer_json.h"

namespace quorel::service {

bool IsHealthCheck(std::string_view target) {
  return target.substr(0, target.find('?')) == kHealthPath;
}

SpeechReply AnswerHealthCheck(std::string_view method, const std::string& version) {
  if (method == "GET") return {200, HealthAnswer(version), ""};
  return {405, ErrorAnswer(405, "method_not_allowed", "the health check answers GET only"), "GET"};
}

}  // namespace quorel::service
