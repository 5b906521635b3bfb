// The process's one recorder record, shared by the host's thread (Start, Stop) and the audio
// input's delivery thread (SoundRecorderCallback). Every field is guarded by lock.
#pragma once

#include <cstdint>

#include "common/static_slot.h"
#include "platform/audio_input.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "recorder/capture_format.h"
#include "recorder/wave_header.h"

namespace quorel {

struct SoundRecorderState {
  Lock lock;
  // Signalled whenever a delivery hands the capture buffer back.
  Condition bufferReturned;
  // Holds the WAV file from a Start that created it until the Stop that closes it.
  StaticSlot<File> file;
  bool recording = false;
  AudioInputHandle input = nullptr;
  AudioBuffer bufferHeader{};
  // True from a successful queueing of the capture buffer until a delivery hands it back.
  bool bufferQueued = false;
  uint8_t captureBuffer[kCaptureBufferSize]{};
  uint8_t copyBuffer[kCaptureBufferSize]{};
  WaveHeader header{};
  uint32_t stopping = 0;
  uint32_t dataLength = 0;
};

extern SoundRecorderState soundRecorderState;

}  // namespace quorel
