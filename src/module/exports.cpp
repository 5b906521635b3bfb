// The library's three exported functions. Loading the library runs no code of its own: every
// resource is taken and released inside these calls, except the recording, which Stop ends.
#define QUOREL_BUILDING_LIBRARY
#include "VantrelQuorelSpeech.h"
#include "module/service_endpoint.h"
#include "recorder/sound_recorder.h"
#include "upload/upload_transaction.h"

namespace {

// On Windows the caller's wide characters are UTF-16 code units already.
const char16_t* Utf16(const QuorelChar* text) {
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace

extern "C" {

QUOREL_API int32_t QUOREL_CALL QuorelSpeech(const QuorelChar* audioPath, const QuorelChar* key,
                                            const QuorelChar* responsePath) {
  return quorel::UploadSpeech(quorel::kServiceEndpoint, Utf16(audioPath), Utf16(key),
                              Utf16(responsePath));
}

QUOREL_API int32_t QUOREL_CALL QuorelSoundRecorderStart(const QuorelChar* path) {
  return quorel::SoundRecorderStart(Utf16(path));
}

QUOREL_API int32_t QUOREL_CALL QuorelSoundRecorderStop(void) {
  return quorel::SoundRecorderStop();
}

}  // extern "C"
