// One recognition request from target to answer, free of any HTTP library so that it can be
// tested and fuzzed on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access_keys.h"

namespace quorel::service {

struct SpeechRequest {
  std::string_view method;
  std::string_view target;  // raw, as on the request line
  std::string_view contentType;
  std::string_view body;
};

struct Recognition {
  bool succeeded = false;
  std::string transcript;
  double confidence = 0;
};

using RecogniseFunction = std::function<Recognition(const std::vector<int16_t>& samples)>;

struct SpeechReply {
  int status = 500;
  std::string body;   // JSON
  std::string allow;  // the methods a 405 names
};

// The media type the library declares for its envelope.
bool IsAudioL16(std::string_view contentType);

// The answer from the head alone (path, method, query, key, media type: the library's audio/l16
// or multipart/form-data with a boundary), before any of the body is read; nullopt when the body
// is wanted.
std::optional<SpeechReply> RefuseSpeechHead(const SpeechRequest& head, const AccessKeys& keys);

// The answer to a body whose head RefuseSpeechHead let through, with its head's Content-Type.
SpeechReply AnswerSpeechBody(std::string_view contentType, std::string_view body,
                             const RecogniseFunction& recognise);

SpeechReply AnswerSpeechRequest(const SpeechRequest& request, const AccessKeys& keys,
                                const RecogniseFunction& recognise);

}  // namespace quorel::service
