// Reading the service's JSON answer: a transcript, or an error with its message.
#pragma once

#include <string>

namespace quorel::tool {

struct ServiceAnswer {
  bool understood = false;  // the text is JSON of the answer's shape
  bool isError = false;
  std::string transcript;
  double confidence = 0;
  std::string errorMessage;  // "status code: message" for an error
};

ServiceAnswer ReadServiceAnswer(const std::string& text);

}  // namespace quorel::tool
