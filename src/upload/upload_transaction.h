// One upload: the audio file posted to the service in one HTTPS request, the answer body stored.
#pragma once

#include <cstdint>

#include "platform/http_exchange.h"

namespace quorel {

constexpr uint32_t kConnectTimeoutMs = 30000;
constexpr uint32_t kStallTimeoutMs = 60000;

// Returns QUOREL_SUCCESS or a QUOREL_SPEECH_* code.
int32_t UploadSpeech(const HttpEndpoint& endpoint, const char16_t* audioPath, const char16_t* key,
                     const char16_t* responsePath);

}  // namespace quorel
