// The process's one sound recorder: the default audio input captured into a WAV file.
#pragma once

#include <cstdint>

#include "common/static_slot.h"
#include "platform/audio_input.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "recorder/capture_format.h"
#include "recorder/wave_header.h"

namespace quorel {

// Creates the WAV file at path and starts capture into it; returns a QUOREL_START_* code or
// QUOREL_SUCCESS.
int32_t SoundRecorderStart(const char16_t* path);

// Ends the recording, finalises the WAV header, closes the file and returns the data length.
int32_t SoundRecorderStop();

// Where the recorder is between a Start and its Stop; sound_recorder.cpp alone changes it and
// lists every move. The file exists in every phase but kIdle.
enum class SoundRecorderPhase : uint8_t {
  kIdle,
  kStarting,   // a Start is opening the input, without the lock
  kRecording,  // Start has returned, whatever its code; the file waits for Stop
  kStopping,   // a Stop is closing the input, without the lock; deliveries take the final path
};

// Where the one capture buffer is: with the input from a successful queueing until the
// delivery that hands it back.
enum class CaptureBufferPlace : uint8_t { kWithRecorder, kWithInput };

// The process's one recorder record, shared by the host's threads (Start, Stop) and the
// audio input's delivery thread. Every field is guarded by lock.
struct SoundRecorderState {
  Lock lock;
  // Signalled when a Start leaves kStarting, for a Stop that waits to stop what it opened.
  Condition startSettled;
  // Holds the WAV file from a Start that created it until the Stop that closes it.
  StaticSlot<File> file;
  SoundRecorderPhase phase = SoundRecorderPhase::kIdle;
  CaptureBufferPlace bufferPlace = CaptureBufferPlace::kWithRecorder;
  AudioInput* input = nullptr;
  AudioBuffer buffer{};
  uint8_t captureBuffer[kCaptureBufferSize]{};
  uint8_t copyBuffer[kCaptureBufferSize]{};
  WaveHeader header{};
  uint32_t dataLength = 0;
};

extern SoundRecorderState soundRecorderState;

}  // namespace quorel
