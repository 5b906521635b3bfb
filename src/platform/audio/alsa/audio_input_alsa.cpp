// The default audio input over ALSA's "default" capture device (on desktops a sound server).
//
// A reader thread runs from Start to Stop. It reads what the device has captured into the one
// queued buffer and hands the buffer back through the handler when it is full; ALSA's ring
// buffer, about two seconds where the device allows, keeps capturing while the handler holds the
// buffer, so nothing is lost before the re-queue. The PCM is touched only by the reader thread
// while capture runs and only by the caller otherwise.
//
// The device delivers short periods, so that at any moment all but the last few milliseconds
// of audio can be read, but the reader wakes only a few times a second: it sleeps on an
// eventfd with a timeout and then reads everything available. (A sound server's plugin signals
// its descriptors every period whatever the wake-up threshold says, so sleeping on them would
// wake the thread fifty times a second.) Stop and AddBuffer signal the eventfd, so the reader
// wakes at once for either, and Stop reads all that is available before the partial buffer
// goes back. Near the moment the queued buffer fills, the reader wakes every period: the
// handler treats every delivery after Stop has begun as the last, so audio that a Stop finds
// beyond the end of a full buffer has nowhere to go, and this keeps it below one period.
#include <stdarg.h>

// alsa/error.h declares this one function outside its extern "C" block; declared here first
// with C linkage, the header's later declaration keeps that linkage.
extern "C" {
using AlsaLocalErrorHandler = void (*)(const char*, int, const char*, int, const char*, va_list);
AlsaLocalErrorHandler snd_lib_error_set_local(AlsaLocalErrorHandler handler);
}

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/audio_input.h"
#include "platform/os/posix/file_size_signal.h"

namespace quorel {

namespace {

constexpr int kFailed = 1;
constexpr char kDeviceName[] = "default";
constexpr unsigned kPeriodMicroseconds = 20000;
// As close to this as the device allows: far longer than the handler takes to copy and
// re-queue a full buffer.
constexpr unsigned kRingMicroseconds = 2000000;
// The reader's sleep between reads, at most; never more than a quarter of the ring the device
// granted, so the ring has room to spare for a late wake-up.
constexpr unsigned kWakeIntervalMs = 500;

// ALSA reports errors on stderr unless told otherwise, and the library prints nothing: while
// a guard lives, ALSA's errors on its thread are dropped (a handler the host installed for
// the whole process still gets them).
class QuietAlsaErrors {
 public:
  QuietAlsaErrors() : previous_(snd_lib_error_set_local(Ignore)) {}
  ~QuietAlsaErrors() { snd_lib_error_set_local(previous_); }
  QuietAlsaErrors(const QuietAlsaErrors&) = delete;
  QuietAlsaErrors& operator=(const QuietAlsaErrors&) = delete;

 private:
  static void Ignore(const char*, int, const char*, int, const char*, va_list) {}
  snd_local_error_handler_t previous_;
};

}  // namespace

struct AudioInput {
  snd_pcm_t* pcm = nullptr;
  AudioInputCallback callback = nullptr;
  uintptr_t instance = 0;
  uint32_t frameBytes = 0;
  uint32_t framesPerSecond = 0;
  int wakeIntervalMs = kWakeIntervalMs;
  int periodMs = kPeriodMicroseconds / 1000;  // never more than wakeIntervalMs
  int wakeFd = -1;
  std::thread reader;

  std::mutex mutex;  // guards the two fields below
  AudioBuffer* queued = nullptr;
  bool stopRequested = false;
};

namespace {

// The reader's sleep for the ring the device granted.
int WakeInterval(snd_pcm_hw_params_t* hardware) {
  unsigned ring = 0;
  int direction = 0;
  if (snd_pcm_hw_params_get_buffer_time(hardware, &ring, &direction) < 0) {
    return kPeriodMicroseconds / 1000;
  }
  return static_cast<int>(std::max(1u, std::min(kWakeIntervalMs, ring / 4000)));
}

bool Configure(snd_pcm_t* pcm, const AudioFormat& format, AudioInput& input) {
  snd_pcm_hw_params_t* hardware;
  snd_pcm_hw_params_alloca(&hardware);
  unsigned rate = format.samplesPerSecond;
  unsigned period = kPeriodMicroseconds;
  unsigned ring = kRingMicroseconds;
  if (snd_pcm_hw_params_any(pcm, hardware) < 0 ||
      snd_pcm_hw_params_set_access(pcm, hardware, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm, hardware, SND_PCM_FORMAT_S16_LE) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hardware, format.channels) < 0 ||
      snd_pcm_hw_params_set_rate(pcm, hardware, rate, 0) < 0 ||
      snd_pcm_hw_params_set_buffer_time_near(pcm, hardware, &ring, nullptr) < 0 ||
      snd_pcm_hw_params_set_period_time_near(pcm, hardware, &period, nullptr) < 0 ||
      snd_pcm_hw_params(pcm, hardware) < 0) {
    return false;
  }
  input.framesPerSecond = rate;  // the device's exact rate, which it accepted above
  input.wakeIntervalMs = WakeInterval(hardware);
  snd_pcm_uframes_t periodFrames = 0;
  int direction = 0;
  if (snd_pcm_hw_params_get_period_time(hardware, &period, &direction) >= 0) {
    input.periodMs = static_cast<int>(std::max(1u, period / 1000));
  }
  input.periodMs = std::min(input.periodMs, input.wakeIntervalMs);
  snd_pcm_sw_params_t* software;
  snd_pcm_sw_params_alloca(&software);
  return snd_pcm_hw_params_get_period_size(hardware, &periodFrames, &direction) >= 0 &&
         snd_pcm_sw_params_current(pcm, software) >= 0 &&
         snd_pcm_sw_params_set_avail_min(pcm, software, periodFrames) >= 0 &&
         snd_pcm_sw_params(pcm, software) >= 0;
}

void Wake(AudioInput& input) {
  const uint64_t one = 1;
  while (write(input.wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ClearWake(AudioInput& input) {
  uint64_t count;
  while (read(input.wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

AudioBuffer* QueuedBuffer(AudioInput& input) {
  std::lock_guard<std::mutex> guard(input.mutex);
  return input.queued;
}

// Takes the queued buffer off the queue and hands it to the handler, without holding the
// mutex: the handler re-queues from inside the call.
void HandBack(AudioInput& input) {
  AudioBuffer* buffer;
  {
    std::lock_guard<std::mutex> guard(input.mutex);
    buffer = input.queued;
    input.queued = nullptr;
  }
  if (buffer != nullptr) {
    input.callback(&input, kAudioInputData, input.instance, reinterpret_cast<uintptr_t>(buffer), 0);
  }
}

// After an overrun (the ring filled while the thread was late or no buffer was queued) or a
// suspend, the PCM is prepared again and restarted, so recording goes on; false when it
// cannot be.
bool Recover(AudioInput& input, int error) {
  if (snd_pcm_recover(input.pcm, error, 1) < 0) return false;
  return snd_pcm_state(input.pcm) == SND_PCM_STATE_RUNNING || snd_pcm_start(input.pcm) >= 0;
}

// Reads every frame available now into the queued buffer, handing it back each time it fills;
// false when the PCM failed for good.
bool ReadAvailable(AudioInput& input) {
  while (AudioBuffer* buffer = QueuedBuffer(input)) {
    const snd_pcm_uframes_t room =
        (buffer->bufferLength - buffer->bytesRecorded) / input.frameBytes;
    const snd_pcm_sframes_t got =
        snd_pcm_readi(input.pcm, buffer->data + buffer->bytesRecorded, room);
    if (got == -EAGAIN || got == 0) return true;
    if (got < 0) {
      return Recover(input, static_cast<int>(got));
    }
    buffer->bytesRecorded += static_cast<uint32_t>(got) * input.frameBytes;
    if (buffer->bufferLength - buffer->bytesRecorded < input.frameBytes) HandBack(input);
  }
  return true;
}

// Until the queued buffer would be full, within the bounds of one period and the wake interval.
int SleepBeforeReading(const AudioInput& input, const AudioBuffer& buffer) {
  const uint64_t roomFrames = (buffer.bufferLength - buffer.bytesRecorded) / input.frameBytes;
  const int untilFull = static_cast<int>(
      std::min<uint64_t>(roomFrames * 1000 / input.framesPerSecond, input.wakeIntervalMs));
  return std::max(untilFull, input.periodMs);
}

void ReadUntilStopped(AudioInput& input) {
  bool pcmUsable = true;
  pollfd wake{input.wakeFd, POLLIN, 0};
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(input.mutex);
      if (input.stopRequested) return;
    }
    // Without a queued buffer (or after a fatal error) there is nothing to read into: wait
    // for a wake-up only, and leave the frames in the ring.
    const AudioBuffer* buffer = pcmUsable ? QueuedBuffer(input) : nullptr;
    const bool readPcm = buffer != nullptr;
    const int timeoutMs = readPcm ? SleepBeforeReading(input, *buffer) : -1;
    if (poll(&wake, 1, timeoutMs) < 0) continue;  // interrupted by a signal
    if (wake.revents & POLLIN) ClearWake(input);
    if (readPcm) pcmUsable = ReadAvailable(input);
  }
}

void ReaderThread(AudioInput* input) {
  FileSizeSignalHeld sizeLimitGivesAShortWrite;
  QuietAlsaErrors quiet;
  ReadUntilStopped(*input);
  // What the device captured up to the stop still belongs in the partial buffer.
  ReadAvailable(*input);
  snd_pcm_drop(input->pcm);
  snd_pcm_prepare(input->pcm);
  HandBack(*input);
}

}  // namespace

int AudioInputOpen(AudioInputHandle* handle, const AudioFormat& format, AudioInputCallback callback,
                   uintptr_t instance) {
  if (handle == nullptr) return kFailed;
  *handle = nullptr;
  if (callback == nullptr || format.formatTag != kWaveFormatPcm || format.bitsPerSample != 16 ||
      format.channels == 0) {
    return kFailed;
  }
  // The sound server's client sizes its shared memory here, and starts its own thread.
  FileSizeSignalHeld sizeLimitGivesAShortWrite;
  QuietAlsaErrors quiet;
  AudioInput* input = new (std::nothrow) AudioInput;
  if (input == nullptr) return kFailed;
  input->callback = callback;
  input->instance = instance;
  input->frameBytes = format.channels * 2u;
  input->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (input->wakeFd < 0 ||
      snd_pcm_open(&input->pcm, kDeviceName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0 ||
      !Configure(input->pcm, format, *input)) {
    if (input->pcm != nullptr) snd_pcm_close(input->pcm);
    if (input->wakeFd >= 0) close(input->wakeFd);
    delete input;
    return kFailed;
  }
  *handle = input;
  callback(input, kAudioInputOpened, instance, 0, 0);
  return 0;
}

int AudioInputPrepareBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  return input != nullptr && buffer != nullptr ? 0 : kFailed;
}

int AudioInputUnprepareBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  return AudioInputPrepareBuffer(input, buffer);
}

int AudioInputAddBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  if (input == nullptr || buffer == nullptr || buffer->data == nullptr ||
      buffer->bufferLength < input->frameBytes) {
    return kFailed;
  }
  {
    std::lock_guard<std::mutex> guard(input->mutex);
    // This input keeps a single buffer: the recorder never queues more.
    if (input->queued != nullptr) return kFailed;
    buffer->bytesRecorded = 0;
    input->queued = buffer;
  }
  Wake(*input);
  return 0;
}

int AudioInputStart(AudioInputHandle input) {
  if (input == nullptr) return kFailed;
  if (input->reader.joinable()) return 0;
  QuietAlsaErrors quiet;
  if (snd_pcm_start(input->pcm) < 0) return kFailed;
  {
    std::lock_guard<std::mutex> guard(input->mutex);
    input->stopRequested = false;
  }
  try {
    input->reader = std::thread(ReaderThread, input);
  } catch (const std::system_error&) {
    snd_pcm_drop(input->pcm);
    snd_pcm_prepare(input->pcm);
    return kFailed;
  }
  return 0;
}

int AudioInputStop(AudioInputHandle input) {
  if (input == nullptr) return kFailed;
  if (!input->reader.joinable()) return 0;  // not capturing: a queued buffer stays queued
  {
    std::lock_guard<std::mutex> guard(input->mutex);
    input->stopRequested = true;
  }
  Wake(*input);
  // The reader hands the partial buffer back before it ends.
  input->reader.join();
  return 0;
}

int AudioInputReset(AudioInputHandle input) {
  if (AudioInputStop(input) != 0) return kFailed;
  // No reader runs now, so a buffer still queued comes back on the caller's thread.
  HandBack(*input);
  return 0;
}

int AudioInputClose(AudioInputHandle input) {
  if (input == nullptr) return kFailed;
  AudioInputReset(input);
  QuietAlsaErrors quiet;
  snd_pcm_close(input->pcm);
  close(input->wakeFd);
  input->callback(input, kAudioInputClosed, input->instance, 0, 0);
  delete input;
  return 0;
}

}  // namespace quorel
