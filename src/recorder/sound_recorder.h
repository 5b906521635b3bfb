// The process's one sound recorder: the default audio input captured into a WAV file.
#pragma once

#include <cstdint>

namespace quorel {

// Creates the WAV file at path and starts capture into it; returns a QUOREL_START_* code or
// QUOREL_SUCCESS.
int32_t SoundRecorderStart(const char16_t* path);

// Ends the recording, finalises the WAV header, closes the file and returns the data length.
int32_t SoundRecorderStop();

}  // namespace quorel
