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

// Where the recorder is between a Start and its Stop; sound_recorder.cpp alone changes it and
// lists every move. The file exists in every phase but kIdle.
enum class SoundRecorderPhase : uint8_t {
  kIdle,
  kStarting,   // a Start is opening the input, without the lock
  kRecording,  // Start has returned, whatever its code; the file waits for Stop
  kStopping,   // a Stop is closing the input, without the lock; deliveries take the final path
};

struct SoundRecorderState {
  Lock lock;
  // Signalled whenever a delivery hands the capture buffer back.
  Condition bufferReturned;
  // Signalled when a Start leaves kStarting, for a Stop that waits to stop what it opened.
  Condition startSettled;
  // Holds the WAV file from a Start that created it until the Stop that closes it.
  StaticSlot<File> file;
  SoundRecorderPhase phase = SoundRecorderPhase::kIdle;
  AudioInputHandle input = nullptr;
  AudioBuffer bufferHeader{};
  // True from a successful queueing of the capture buffer until a delivery hands it back.
  bool bufferQueued = false;
  uint8_t captureBuffer[kCaptureBufferSize]{};
  uint8_t copyBuffer[kCaptureBufferSize]{};
  WaveHeader header{};
  uint32_t dataLength = 0;
};

extern SoundRecorderState soundRecorderState;

}  // namespace quorel
