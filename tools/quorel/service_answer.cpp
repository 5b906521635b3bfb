#include "service_answer.h"

#include <nlohmann/json.hpp>

namespace quorel::tool {

ServiceAnswer ReadServiceAnswer(const std::string& text) {
  ServiceAnswer answer;
  const auto json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object()) return answer;
  if (const auto error = json.find("error"); error != json.end() && error->is_object()) {
    answer.understood = true;
    answer.isError = true;
    const auto status = error->find("status");
    const auto code = error->find("code");
    const auto message = error->find("message");
    answer.errorMessage =
        (status != error->end() && status->is_number() ? std::to_string(status->get<int>()) + " "
                                                       : std::string()) +
        (code != error->end() && code->is_string() ? code->get<std::string>() + ": " : "") +
        (message != error->end() && message->is_string() ? message->get<std::string>()
                                                         : "no message");
    return answer;
  }
  const auto transcript = json.find("transcript");
  if (transcript == json.end() || !transcript->is_string()) return answer;
  answer.understood = true;
  answer.transcript = transcript->get<std::string>();
  const auto confidence = json.find("confidence");
  if (confidence != json.end() && confidence->is_number()) {
    answer.confidence = confidence->get<double>();
  }
  return answer;
}

}  // namespace quorel::tool
