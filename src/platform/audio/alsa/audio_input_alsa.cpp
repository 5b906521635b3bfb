// The default audio input over ALSA's "default" capture device (on desktops a sound server).
//
// A thread of the input's own runs from Open until the PCM is closed: it opens the PCM, starts
// it when Start asks, reads, and releases it. Open and Start wait for its word only so long (a
// frozen sound server holds the open, and the start, for as long as it is frozen); an input
// given up on is released by that thread once the server lets go. While capturing it sleeps on the
// PCM's own poll descriptors, which the device signals once a period, reads every frame available
// into the queued buffer and hands the buffer back through the handler when it is full. ALSA's
// ring, about two seconds where the device allows, keeps capturing while the handler holds the
// buffer, so nothing is lost before the re-queue. Reading every period keeps the audio that a
// sound server has sent but the PCM has not yet given to the reader to one period: a server
// that dies takes with it what the client had not read, and refuses the rest.
//
// At Stop the thread reads what is available, hands the buffer back, and only then drops the
// stream: a frozen sound server holds the drop (and the close) for as long as it is frozen,
// and neither may hold up Stop or Close. Close waits a little for the thread to close the PCM;
// after that the thread finishes the release on its own and frees the input when the server
// lets go. The buffer is touched under the mutex only, so Stop can also take it back itself.
// A thread left to finish a release keeps the library loaded (platform/library_pin.h), so a
// host may unload it at any time after Stop.
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
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/audio_input_backend.h"
#include "platform/library_pin.h"
#include "platform/os/posix/file_size_signal.h"

namespace quorel {

namespace {

constexpr char kDeviceName[] = "default";
// One read per period: what a vanishing server takes with it, and what a Stop cannot reach (a
// sound server sends a period at a time). Each period wakes the reader and the sound server's
// client thread once, so shorter ones cost more: 40 ms cost 1.5 to 2.2 times arecord's CPU on
// the same source, 50 ms 1.27 times.
constexpr unsigned kPeriodMicroseconds = 50000;
// As close to this as the device allows: far longer than the handler takes to copy and
// re-queue a full buffer.
constexpr unsigned kRingMicroseconds = 2000000;
// How long Open and Start together wait for the thread to open and start the PCM (Start at
// least kStartWait, for a caller that starts late), and how long Stop waits for its hand-back
// and Close for its release of the PCM, before each goes on without it.
constexpr std::chrono::milliseconds kOpenAndStartWait{900};
constexpr std::chrono::milliseconds kStartWait{250};
constexpr std::chrono::milliseconds kStopWait{500};
constexpr std::chrono::milliseconds kCloseWait{300};

// Inputs whose release a stuck device holds up: while any is left, Open fails.
std::atomic<int> releasesPending{0};

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
  snd_pcm_t* pcm = nullptr;  // the thread's alone until it has reported the open
  AudioFormat format{};
  AudioDeliveryHandler handler = nullptr;
  void* user = nullptr;
  uint32_t frameBytes = 0;
  int wakeFd = -1;
  std::chrono::steady_clock::time_point startedBy;  // Open's call and its wait
  std::thread thread;

  std::mutex mutex;  // guards the buffer and every field below
  std::condition_variable changed;
  AudioBuffer* queued = nullptr;
  bool openSettled = false;  // the thread has opened the PCM, or failed to
  bool opened = false;
  bool startRequested = false;
  bool startSettled = false;  // the thread has started the PCM, or failed to
  bool capturing = false;
  bool stuck = false;           // Start went on without the thread, which is still starting
  bool delivering = false;      // a handler call is under way
  bool stopRequested = false;   // from then on Queue fails
  bool handedBack = false;      // the thread has made its last delivery
  bool closeRequested = false;  // the thread may close the PCM
  bool released = false;        // the thread has closed the PCM and the eventfd
  bool abandoned = false;       // Open or Close went on without the thread, which frees the input
};

namespace {

using Lock = std::unique_lock<std::mutex>;

bool Configure(snd_pcm_t* pcm, const AudioFormat& format) {
  snd_pcm_hw_params_t* hardware;
  snd_pcm_hw_params_alloca(&hardware);
  unsigned period = kPeriodMicroseconds;
  unsigned ring = kRingMicroseconds;
  snd_pcm_uframes_t periodFrames = 0;
  int direction = 0;
  snd_pcm_sw_params_t* software;
  snd_pcm_sw_params_alloca(&software);
  return snd_pcm_hw_params_any(pcm, hardware) >= 0 &&
         snd_pcm_hw_params_set_access(pcm, hardware, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
         snd_pcm_hw_params_set_format(pcm, hardware, SND_PCM_FORMAT_S16_LE) >= 0 &&
         snd_pcm_hw_params_set_channels(pcm, hardware, format.channels) >= 0 &&
         snd_pcm_hw_params_set_rate(pcm, hardware, format.samplesPerSecond, 0) >= 0 &&
         snd_pcm_hw_params_set_buffer_time_near(pcm, hardware, &ring, nullptr) >= 0 &&
         snd_pcm_hw_params_set_period_time_near(pcm, hardware, &period, nullptr) >= 0 &&
         snd_pcm_hw_params(pcm, hardware) >= 0 &&
         snd_pcm_hw_params_get_period_size(hardware, &periodFrames, &direction) >= 0 &&
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

// Takes the queued buffer off the queue and hands it to the handler, without holding the
// mutex: the handler may re-queue from inside the call.
void HandBack(AudioInput& input) {
  AudioBuffer* buffer;
  {
    Lock lock(input.mutex);
    buffer = input.queued;
    if (buffer == nullptr) return;
    input.queued = nullptr;
    input.delivering = true;
  }
  input.handler(&input, buffer, input.user);
  Lock lock(input.mutex);
  input.delivering = false;
  input.changed.notify_all();
}

// After an overrun (the ring filled while no buffer was queued) or a suspend, the PCM is
// prepared again and restarted, so recording goes on; false when it cannot be.
bool Recover(AudioInput& input, int error) {
  if (snd_pcm_recover(input.pcm, error, 1) < 0) return false;
  return snd_pcm_state(input.pcm) == SND_PCM_STATE_RUNNING || snd_pcm_start(input.pcm) >= 0;
}

// Reads every frame available now into the queued buffer, handing it back each time it fills;
// false when the PCM failed for good.
bool ReadAvailable(AudioInput& input) {
  for (;;) {
    Lock lock(input.mutex);
    AudioBuffer* buffer = input.queued;
    if (buffer == nullptr) return true;
    const snd_pcm_uframes_t room = (buffer->capacity - buffer->bytesRecorded) / input.frameBytes;
    const snd_pcm_sframes_t got =
        snd_pcm_readi(input.pcm, buffer->data + buffer->bytesRecorded, room);
    if (got == -EAGAIN || got == 0) return true;
    if (got < 0) {
      lock.unlock();
      return Recover(input, static_cast<int>(got));
    }
    buffer->bytesRecorded += static_cast<uint32_t>(got) * input.frameBytes;
    const bool full = buffer->capacity - buffer->bytesRecorded < input.frameBytes;
    lock.unlock();
    // A read short of the room took all there was.
    if (!full) return true;
    HandBack(input);
  }
}

bool PcmWoke(const std::vector<pollfd>& descriptors) {
  for (size_t i = 1; i < descriptors.size(); ++i) {
    if (descriptors[i].revents != 0) return true;
  }
  return false;
}

void ReadUntilStopped(AudioInput& input) {
  std::vector<pollfd> descriptors(1 + snd_pcm_poll_descriptors_count(input.pcm));
  descriptors[0] = {input.wakeFd, POLLIN, 0};
  const int pcmCount = snd_pcm_poll_descriptors(input.pcm, &descriptors[1],
                                                static_cast<unsigned>(descriptors.size() - 1));
  bool pcmUsable = pcmCount > 0;
  for (;;) {
    bool readPcm;
    {
      Lock lock(input.mutex);
      if (input.stopRequested) return;
      // Without a queued buffer (or after a fatal error) there is nothing to read into: wait
      // for a wake-up only, and leave the frames in the ring.
      readPcm = pcmUsable && input.queued != nullptr;
    }
    const nfds_t count = readPcm ? 1 + pcmCount : 1;
    if (poll(descriptors.data(), count, -1) < 0) continue;  // interrupted by a signal
    if (descriptors[0].revents & POLLIN) ClearWake(input);
    // The PCM's own verdict on what woke it clears its descriptors; what the reader reads
    // does not depend on it, as a PCM that failed (a server gone) signals without data.
    unsigned short events = 0;
    if (readPcm && PcmWoke(descriptors)) {
      snd_pcm_poll_descriptors_revents(input.pcm, &descriptors[1], pcmCount, &events);
      pcmUsable = ReadAvailable(input);
    }
  }
}

// Whether the PCM opened in the input's format. The sound server's client sizes its shared
// memory here, and starts its own thread.
bool OpenPcm(AudioInput& input) {
  return snd_pcm_open(&input.pcm, kDeviceName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) >= 0 &&
         Configure(input.pcm, input.format);
}

// Closes what the thread opened; frees the input when Open or Close went on without it.
void Release(AudioInput* input) {
  if (input->pcm != nullptr) snd_pcm_close(input->pcm);
  close(input->wakeFd);
  bool abandoned;
  {
    Lock lock(input->mutex);
    input->released = true;
    abandoned = input->abandoned;
    input->changed.notify_all();
  }
  if (abandoned) {
    delete input;
    --releasesPending;
  }
}

void InputThread(AudioInput* input) {
  FileSizeSignalHeld sizeLimitGivesAShortWrite;
  QuietAlsaErrors quiet;
  const bool opened = OpenPcm(*input);
  bool start;
  {
    Lock lock(input->mutex);
    input->openSettled = true;
    input->opened = opened;
    input->changed.notify_all();
    if (opened) {
      input->changed.wait(lock, [&] { return input->startRequested || input->stopRequested; });
    }
    start = opened && !input->stopRequested;
  }
  if (!opened) return Release(input);
  bool capturing = false;
  if (start) {
    capturing = snd_pcm_start(input->pcm) >= 0;
    Lock lock(input->mutex);
    input->startSettled = true;
    input->capturing = capturing;
    input->changed.notify_all();
  }
  if (capturing) {
    ReadUntilStopped(*input);
    // What the device captured up to the stop still belongs in the last delivery.
    ReadAvailable(*input);
  } else {
    Lock lock(input->mutex);
    input->changed.wait(lock, [&] { return input->stopRequested; });
  }
  HandBack(*input);
  {
    Lock lock(input->mutex);
    input->handedBack = true;
    input->changed.notify_all();
  }
  if (capturing) snd_pcm_drop(input->pcm);
  {
    Lock lock(input->mutex);
    input->changed.wait(lock, [&] { return input->closeRequested; });
  }
  Release(input);
}

// Leaves the input to its thread, which frees it once the device lets go; until then Open
// fails. Called with the input's mutex held.
void Abandon(AudioInput* input) {
  ++releasesPending;
  input->abandoned = true;
  input->stopRequested = true;
  input->closeRequested = true;
  input->changed.notify_all();
  input->thread.detach();
}

AudioInput* Open(const AudioFormat& format, AudioDeliveryHandler handler, void* user) {
  if (releasesPending > 0) return nullptr;
  AudioInput* input = new (std::nothrow) AudioInput;
  if (input == nullptr) return nullptr;
  input->format = format;
  input->handler = handler;
  input->user = user;
  input->frameBytes = format.channels * 2u;
  input->startedBy = std::chrono::steady_clock::now() + kOpenAndStartWait;
  input->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (input->wakeFd < 0) {
    delete input;
    return nullptr;
  }
  try {
    input->thread = std::thread(InputThread, input);
  } catch (const std::system_error&) {
    close(input->wakeFd);
    delete input;
    return nullptr;
  }
  Lock lock(input->mutex);
  if (!input->changed.wait_until(lock, input->startedBy, [&] { return input->openSettled; })) {
    Abandon(input);
    lock.unlock();
    KeepThisLibraryLoaded();
    return nullptr;
  }
  if (input->opened) return input;
  lock.unlock();
  input->thread.join();
  delete input;
  return nullptr;
}

bool Queue(AudioInput* input, AudioBuffer* buffer) {
  {
    Lock lock(input->mutex);
    if (input->queued != nullptr || input->stopRequested || buffer->capacity < input->frameBytes) {
      return false;
    }
    buffer->bytesRecorded = 0;
    input->queued = buffer;
  }
  Wake(*input);
  return true;
}

bool Start(AudioInput* input) {
  Lock lock(input->mutex);
  if (input->startRequested) return input->capturing && !input->stopRequested;
  if (input->stopRequested) return false;
  input->startRequested = true;
  input->changed.notify_all();
  const auto deadline = std::max(input->startedBy, std::chrono::steady_clock::now() + kStartWait);
  if (!input->changed.wait_until(lock, deadline, [&] { return input->startSettled; })) {
    input->stuck = true;
    return false;
  }
  return input->capturing;
}

bool Stop(AudioInput* input) {
  Lock lock(input->mutex);
  if (input->stopRequested) return true;
  input->stopRequested = true;
  input->changed.notify_all();
  if (input->capturing) {
    Wake(*input);
    if (input->changed.wait_for(lock, kStopWait, [&] { return input->handedBack; })) return true;
  } else if (!input->stuck) {
    lock.unlock();
    HandBack(*input);  // capture never ran: the buffer comes back as queued
    return true;
  }
  // The thread is held up: the buffer comes back from here, with what reached it. A delivery
  // under way ends first, as only one may run at a time.
  input->changed.wait(lock, [&] { return !input->delivering; });
  lock.unlock();
  HandBack(*input);
  return false;
}

bool Close(AudioInput* input) {
  Stop(input);
  Lock lock(input->mutex);
  input->closeRequested = true;
  input->changed.notify_all();
  const auto wait = input->stuck ? std::chrono::milliseconds(0) : kCloseWait;
  if (!input->changed.wait_for(lock, wait, [&] { return input->released; })) {
    Abandon(input);
    lock.unlock();
    KeepThisLibraryLoaded();
    return false;
  }
  lock.unlock();
  input->thread.join();
  delete input;
  return true;
}

}  // namespace

const AudioInputBackend kAudioInputBackend = {Open, Queue, Start, Stop, Close};

}  // namespace quorel
