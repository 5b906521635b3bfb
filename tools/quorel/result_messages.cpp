#include "result_messages.h"

#include "VantrelQuorelSpeech.h"

namespace quorel::tool {

namespace {

std::string WithCode(const char* words, const char* hint, int32_t code) {
  return std::string(words) + hint + " (result code " + std::to_string(code) + ")";
}

}  // namespace

std::string DescribeStartResult(int32_t code) {
  const char* hint = code == QUOREL_START_INPUT_OPEN_FAILED ? " (no capture device, or it is busy)"
                     : code == QUOREL_START_FILE_CREATE_FAILED
                         ? " (check the folder and permissions)"
                         : "";
  return WithCode(QuorelStartResultText(code), hint, code);
}

std::string DescribeSpeechResult(int32_t code) {
  const char* hint =
      code == QUOREL_SPEECH_REQUEST_FAILED ? " (is the key too long or not valid text?)" : "";
  return WithCode(QuorelSpeechResultText(code), hint, code);
}

}  // namespace quorel::tool
