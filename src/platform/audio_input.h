// The default audio input, as the recorder uses it: open it with a format and a delivery
// handler, queue the one buffer, start, stop, close. Each call but Open returns true on
// success; Open returns the input or null.
//
// What the calls of this header guarantee to every caller (audio_input.cpp, for all backends):
// - Arguments are checked once, before a backend sees them: a null input, handler, buffer or
//   buffer memory, an empty buffer, and any format but 16-bit PCM with at least one channel
//   and a rate are refused with false (or null) and touch nothing.
// - Failures are false, never a system's own numbers; the caller maps them to its codes.
//
// What every backend guarantees (audio/<system>/audio_input_<system>.cpp):
// - At most one buffer is queued at a time: Queue while one is queued fails, as does Queue of
//   a buffer shorter than one frame.
// - The handler is called with the buffer the input hands back, its bytesRecorded set (whole
//   frames, at most its capacity), on a thread of the backend's (or, when capture is not
//   running or the device is stuck, on Stop's thread), never two at once, and never after
//   Close has returned. A buffer handed back
//   is no longer queued and the input never touches it again until it is queued anew; the
//   handler may queue it again from inside the delivery. It must not call Stop or Close.
// - Audio reaches the queued buffer within one period of the device's (at most 50 ms) of
//   being captured, so when the device goes away (a sound server ends, a device is unplugged)
//   at most that much audio it had delivered is lost; capture then ends without burning the
//   processor, and the queued buffer keeps what came.
// - Stop ends capture and returns only after the queued buffer, if any, has come back
//   through the handler, however full (empty too, and also when capture never started). It
//   returns within a second whatever the device does: a device that does not give the buffer
//   back in that time has it taken back (with what reached it) and Stop returns false.
// - Open returns within about a second whatever the device does: an open that has not finished
//   by then gives null. ALSA's bounds Open and the Start after it together (Start waits a
//   quarter of a second at least, however late it comes): a start not finished in time gives
//   false. winmm's Start and Queue call the service directly.
// - Close reclaims everything, also after a failed or missing Stop (it stops first). When the
//   device does not let go in time, Close returns false at once. Whatever Open or Close gave
//   up on, the backend finishes and releases on its own thread as soon as the device allows,
//   leaking nothing; until then Open fails, so one input at a time holds the device. Such a
//   thread keeps the library loaded (platform/library_pin.h): unloading it is safe once Close
//   has returned.
// - A write that reaches the process's file size limit on a backend's thread fails short and
//   never raises a signal that ends the process.
#pragma once

#include <cstdint>

namespace quorel {

struct AudioFormat {
  uint32_t samplesPerSecond;
  uint16_t channels;
  uint16_t bitsPerSample;
};

// A capture buffer: the input fills data from the start and sets bytesRecorded.
struct AudioBuffer {
  uint8_t* data;
  uint32_t capacity;
  uint32_t bytesRecorded;
};

struct AudioInput;  // defined by each backend

using AudioDeliveryHandler = void (*)(AudioInput* input, AudioBuffer* buffer, void* user);

// Opens the default input; null when it cannot be opened in format.
AudioInput* AudioInputOpen(const AudioFormat& format, AudioDeliveryHandler handler, void* user);
// Queues buffer, emptied (bytesRecorded 0), for the input to fill.
bool AudioInputQueue(AudioInput* input, AudioBuffer* buffer);
bool AudioInputStart(AudioInput* input);
bool AudioInputStop(AudioInput* input);
// Afterwards input is gone, whatever the result.
bool AudioInputClose(AudioInput* input);

}  // namespace quorel
