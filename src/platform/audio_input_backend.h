// The functions an audio-input backend provides, one per function of audio_input.h, which
// calls them through a table. Each backend file defines the table from its own functions, and
// the build links one. Each entry keeps the backend's guarantees of audio_input.h and gets only
// arguments that audio_input.cpp has checked.
#pragma once

#include "platform/audio_input.h"

namespace quorel {

struct AudioInputBackend {
  AudioInput* (*open)(const AudioFormat& format, AudioDeliveryHandler handler, void* user);
  bool (*queue)(AudioInput* input, AudioBuffer* buffer);
  bool (*start)(AudioInput* input);
  bool (*stop)(AudioInput* input);
  bool (*close)(AudioInput* input);
};

// The table of the build's backend (ALSA's on Linux, winmm's on Windows).
extern const AudioInputBackend kAudioInputBackend;

// The table the calls of audio_input.h go through: kAudioInputBackend's entries, unless a test
// has put in one of its own that wraps them (to fail a call) and puts them back afterwards.
AudioInputBackend& AudioInputBackendInUse();

}  // namespace quorel
