// The delivery handler that the audio input calls, on its own thread, with each buffer it
// hands back.
#pragma once

#include <cstdint>

#include "platform/audio_input.h"

namespace quorel {

// Acts on kAudioInputData only. While recording it copies the buffer, queues it again at once
// and then appends the copy to the file; once Stop has begun it appends what the buffer holds
// and keeps it.
void SoundRecorderCallback(AudioInputHandle input, uint32_t message, uintptr_t instance,
                           uintptr_t param1, uintptr_t param2);

}  // namespace quorel
