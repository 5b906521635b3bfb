// The default audio input, shaped like the wave-audio input service the recorder was written
// for: open with a format and a delivery handler, queue a buffer, start, stop (which hands the
// partly filled buffer back), reset (which hands back anything still queued), close.
// Deliveries arrive on the backend's own thread. Every call returns 0 on success. When the
// device goes away while capturing (a sound server ends, a device is unplugged), capture ends
// without burning the processor: the queued buffer keeps what came and is handed back by the
// stop or reset as usual.
#pragma once

#include <cstdint>

namespace quorel {

// Messages the delivery handler receives; a backend translates its system's own numbering.
constexpr uint32_t kAudioInputOpened = 1;
constexpr uint32_t kAudioInputClosed = 2;
constexpr uint32_t kAudioInputData = 3;

constexpr uint16_t kWaveFormatPcm = 1;

struct AudioFormat {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSecond;
  uint32_t averageBytesPerSecond;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t extraSize;
};

// A capture buffer: the input fills data and sets bytesRecorded before handing it back.
struct AudioBuffer {
  uint8_t* data;
  uint32_t bufferLength;
  uint32_t bytesRecorded;
  uintptr_t user;
  uint32_t flags;
  uint32_t loops;
};

struct AudioInput;  // defined by each backend
using AudioInputHandle = AudioInput*;

// For kAudioInputData, param1 is the AudioBuffer* handed back; param2 is unused.
using AudioInputCallback = void (*)(AudioInputHandle input, uint32_t message, uintptr_t instance,
                                    uintptr_t param1, uintptr_t param2);

// Opens the default input; on failure *input stays null.
int AudioInputOpen(AudioInputHandle* input, const AudioFormat& format, AudioInputCallback callback,
                   uintptr_t instance);
int AudioInputPrepareBuffer(AudioInputHandle input, AudioBuffer* buffer);
int AudioInputAddBuffer(AudioInputHandle input, AudioBuffer* buffer);
int AudioInputStart(AudioInputHandle input);
// Ends capture; the partly filled queued buffer comes back through the handler.
int AudioInputStop(AudioInputHandle input);
// Hands back every buffer still queued, through the handler.
int AudioInputReset(AudioInputHandle input);
int AudioInputUnprepareBuffer(AudioInputHandle input, AudioBuffer* buffer);
// Ends capture, hands back through the handler any buffer still queued (so a caller whose
// reset failed still gets its buffer back and the device keeps none), and closes; afterwards
// no delivery comes. Not from inside the handler.
int AudioInputClose(AudioInputHandle input);

}  // namespace quorel
