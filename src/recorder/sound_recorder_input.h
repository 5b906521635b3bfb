// The recorder's side of the audio input: opening it with the single capture buffer queued,
// and closing it once that buffer has come back.
#pragma once

#include <cstdint>

namespace quorel {

// Opens the default input in the capture format, queues the capture buffer and starts
// capture; returns QUOREL_SUCCESS or the QUOREL_START_* code of the step that failed.
int32_t SoundRecorderOpenInput();

// Stops the open input, waits until the capture buffer is back from it and closes it. After
// this no delivery can reach the recorder.
void SoundRecorderCloseInput();

}  // namespace quorel
