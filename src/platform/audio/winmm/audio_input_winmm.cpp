// The default audio input over the wave-audio input service (winmm). The service calls a
// CALLBACK_FUNCTION on a thread of its own, where it allows only a few system calls (critical
// sections, SetEvent and the like), while the recorder re-queues its buffer and writes the file
// from its handler. So the service callback only notes that the buffer is done and sets an
// event for this input's delivery thread, which runs the handler.
//
// The service records into memory of the input's own, described by its one private WAVEHDR,
// and the delivery copies what it holds into the caller's buffer: so a driver that keeps the
// header past Stop's deadline keeps only memory that goes with the input, never the caller's.
// The service's calls that open the device and end capture (open; stop, reset, unprepare,
// close) run on a device thread of the input's own, so a driver stuck in one of them holds up
// neither Open (which gives up after a while) nor Stop nor Close; the thread finishes what they
// gave up on once the driver returns, and keeps the library loaded meanwhile
// (platform/library_pin.h), so a host may unload it at any time after Stop.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <mmsystem.h>

#include <cstring>
#include <initializer_list>
#include <new>

#include "platform/audio_input_backend.h"
#include "platform/library_pin.h"

namespace quorel {

namespace {

// How long Open waits for the device to open, Stop for the buffer to come back, and Close for
// the service to let go of the input, before each goes on without it.
constexpr DWORD kOpenWaitMilliseconds = 900;
constexpr DWORD kStopWaitMilliseconds = 500;
constexpr DWORD kCloseWaitMilliseconds = 300;
// Wine's service hands a queued buffer back only after a reset that may have to be repeated.
constexpr DWORD kResetRetryMilliseconds = 10;

// Inputs whose open or release a stuck driver holds up: while any is left, Open fails.
LONG releasesPending = 0;

class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& section) : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~CriticalSectionGuard() { LeaveCriticalSection(&section_); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

struct AudioInput {
  HWAVEIN device = nullptr;  // the device thread's alone until it has reported the open
  WAVEFORMATEX format{};
  AudioDeliveryHandler handler = nullptr;
  void* user = nullptr;
  uint32_t frameBytes = 0;
  HANDLE deliveryThread = nullptr;
  HANDLE deviceThread = nullptr;
  HANDLE posted = nullptr;    // auto-reset: the buffer is done, or the input is closing
  HANDLE settled = nullptr;   // manual-reset: the buffer came back (or was taken back)
  HANDLE opened = nullptr;    // manual-reset: the device thread's open has returned
  HANDLE mayStop = nullptr;   // manual-reset: the device thread may end capture
  HANDLE mayClose = nullptr;  // manual-reset: the device thread may close the device
  HANDLE released = nullptr;  // manual-reset: the device is closed, or never opened

  // Guards everything below. Never held across a winmm call: the service may call back into
  // WaveInProc from inside one.
  CRITICAL_SECTION lock;
  WAVEHDR header{};  // prepared while memory is set
  uint8_t* memory = nullptr;
  uint32_t memoryCapacity = 0;
  AudioBuffer* queued = nullptr;  // the caller's buffer that the header records for
  bool done = false;              // the service handed the header back
  bool delivering = false;
  bool stopping = false;  // from then on Queue fails
  bool closing = false;
  bool deviceOpen = false;  // the open succeeded
  bool abandoned = false;  // Open or Close went on without the device thread, which frees the input
};

namespace {

// Only calls that the service allows in its callback: a critical section and SetEvent.
void CALLBACK WaveInProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (message != WIM_DATA) return;
  AudioInput* input = reinterpret_cast<AudioInput*>(instance);
  {
    CriticalSectionGuard guard(input->lock);
    input->done = true;
  }
  SetEvent(input->posted);
}

// Takes the queued buffer off the queue, fills it from the header (count bytes of it) and
// hands it to the handler without the lock, so the handler may queue it again.
void HandBack(AudioInput* input, bool fromHeader) {
  AudioBuffer* buffer;
  {
    CriticalSectionGuard guard(input->lock);
    buffer = input->queued;
    if (buffer == nullptr) return;
    input->queued = nullptr;
    input->delivering = true;
    uint32_t count = fromHeader ? input->header.dwBytesRecorded : 0;
    if (count > buffer->capacity) count = buffer->capacity;
    count -= count % input->frameBytes;
    if (count > 0) std::memcpy(buffer->data, input->memory, count);
    buffer->bytesRecorded = count;
  }
  input->handler(input, buffer, input->user);
  CriticalSectionGuard guard(input->lock);
  input->delivering = false;
  if (input->stopping) SetEvent(input->settled);
}

DWORD WINAPI DeliveryThread(void* parameter) {
  AudioInput* input = static_cast<AudioInput*>(parameter);
  for (;;) {
    WaitForSingleObject(input->posted, INFINITE);
    bool done;
    {
      CriticalSectionGuard guard(input->lock);
      if (input->closing) return 0;
      done = input->done;
      input->done = false;
    }
    if (done) HandBack(input, true);
  }
}

bool HeaderQueued(AudioInput* input) {
  CriticalSectionGuard guard(input->lock);
  return (input->header.dwFlags & WHDR_INQUEUE) != 0;
}

void FreeInput(AudioInput* input) {
  {
    CriticalSectionGuard guard(input->lock);
    input->closing = true;
  }
  SetEvent(input->posted);
  WaitForSingleObject(input->deliveryThread, INFINITE);
  CloseHandle(input->deliveryThread);
  for (HANDLE event : {input->posted, input->settled, input->opened, input->mayStop,
                       input->mayClose, input->released}) {
    CloseHandle(event);
  }
  DeleteCriticalSection(&input->lock);
  delete[] input->memory;
  delete input;
}

// Ends the device thread's part: marks the device released and, when Open or Close went on
// without the thread, frees the input.
void Released(AudioInput* input) {
  bool abandoned;
  {
    CriticalSectionGuard guard(input->lock);
    abandoned = input->abandoned;
    SetEvent(input->released);
  }
  if (abandoned) {
    CloseHandle(input->deviceThread);
    FreeInput(input);
    InterlockedDecrement(&releasesPending);
  }
}

// Opens the device; then, at Stop's word, ends capture, and at Close's word closes it.
DWORD WINAPI DeviceThread(void* parameter) {
  AudioInput* input = static_cast<AudioInput*>(parameter);
  const bool open =
      waveInOpen(&input->device, WAVE_MAPPER, &input->format,
                 reinterpret_cast<DWORD_PTR>(&WaveInProc), reinterpret_cast<DWORD_PTR>(input),
                 CALLBACK_FUNCTION) == MMSYSERR_NOERROR;
  {
    CriticalSectionGuard guard(input->lock);
    input->deviceOpen = open;
    SetEvent(input->opened);
  }
  if (!open) {
    Released(input);
    return 0;
  }
  WaitForSingleObject(input->mayStop, INFINITE);
  waveInStop(input->device);  // hands back the part of the buffer filled so far
  // A buffer that holds nothing yet stays queued through a stop; Wine's service may need more
  // than one reset to hand it back.
  waveInReset(input->device);
  while (HeaderQueued(input) && WaitForSingleObject(input->mayClose, 0) == WAIT_TIMEOUT) {
    Sleep(kResetRetryMilliseconds);
    waveInReset(input->device);
  }
  WaitForSingleObject(input->mayClose, INFINITE);
  for (DWORD waited = 0; HeaderQueued(input) && waited < kStopWaitMilliseconds;
       waited += kResetRetryMilliseconds) {
    waveInReset(input->device);
    Sleep(kResetRetryMilliseconds);
  }
  if (input->memory != nullptr)
    waveInUnprepareHeader(input->device, &input->header, sizeof(WAVEHDR));
  waveInClose(input->device);
  Released(input);
  return 0;
}

AudioInput* NewInput(AudioDeliveryHandler handler, void* user, uint32_t frameBytes) {
  AudioInput* input = new (std::nothrow) AudioInput;
  if (input == nullptr) return nullptr;
  input->handler = handler;
  input->user = user;
  input->frameBytes = frameBytes;
  InitializeCriticalSection(&input->lock);
  input->posted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  input->settled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  input->opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  input->mayStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  input->mayClose = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  input->released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (input->posted != nullptr && input->settled != nullptr && input->opened != nullptr &&
      input->mayStop != nullptr && input->mayClose != nullptr && input->released != nullptr) {
    input->deliveryThread = CreateThread(nullptr, 0, DeliveryThread, input, 0, nullptr);
  }
  if (input->deliveryThread != nullptr) return input;
  for (HANDLE event : {input->posted, input->settled, input->opened, input->mayStop,
                       input->mayClose, input->released}) {
    if (event != nullptr) CloseHandle(event);
  }
  DeleteCriticalSection(&input->lock);
  delete input;
  return nullptr;
}

// Leaves the input to its device thread, which frees it once the driver lets go; until then
// Open fails. Called with the input's lock held.
void Abandon(AudioInput* input) {
  InterlockedIncrement(&releasesPending);
  input->abandoned = true;
  SetEvent(input->mayStop);
  SetEvent(input->mayClose);
}

// Waits for the device thread to end, and frees the input.
void JoinAndFree(AudioInput* input) {
  WaitForSingleObject(input->deviceThread, INFINITE);
  CloseHandle(input->deviceThread);
  FreeInput(input);
}

AudioInput* Open(const AudioFormat& format, AudioDeliveryHandler handler, void* user) {
  if (InterlockedCompareExchange(&releasesPending, 0, 0) > 0) return nullptr;
  const uint32_t frameBytes = format.channels * 2u;
  AudioInput* input = NewInput(handler, user, frameBytes);
  if (input == nullptr) return nullptr;
  input->format = WAVEFORMATEX{WAVE_FORMAT_PCM,
                               format.channels,
                               format.samplesPerSecond,
                               format.samplesPerSecond * frameBytes,
                               static_cast<WORD>(frameBytes),
                               format.bitsPerSample,
                               0};
  input->deviceThread = CreateThread(nullptr, 0, DeviceThread, input, 0, nullptr);
  if (input->deviceThread == nullptr) {
    FreeInput(input);
    return nullptr;
  }
  WaitForSingleObject(input->opened, kOpenWaitMilliseconds);
  {
    CriticalSectionGuard guard(input->lock);
    if (WaitForSingleObject(input->opened, 0) != WAIT_OBJECT_0) {
      Abandon(input);
      input = nullptr;
    } else if (input->deviceOpen) {
      return input;
    }
  }
  if (input == nullptr) {
    KeepThisLibraryLoaded();
  } else {
    JoinAndFree(input);
  }
  return nullptr;
}

// Memory and a prepared header for capacity bytes, kept from the last queueing when it fits.
bool PrepareMemory(AudioInput* input, uint32_t capacity) {
  if (input->memory != nullptr && input->memoryCapacity == capacity) return true;
  if (input->memory != nullptr) {
    if (waveInUnprepareHeader(input->device, &input->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      return false;
    }
    delete[] input->memory;
    input->memory = nullptr;
  }
  uint8_t* memory = new (std::nothrow) uint8_t[capacity];
  if (memory == nullptr) return false;
  input->header = WAVEHDR{};
  input->header.lpData = reinterpret_cast<LPSTR>(memory);
  input->header.dwBufferLength = capacity;
  if (waveInPrepareHeader(input->device, &input->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    delete[] memory;
    return false;
  }
  input->memory = memory;
  input->memoryCapacity = capacity;
  return true;
}

bool Queue(AudioInput* input, AudioBuffer* buffer) {
  {
    CriticalSectionGuard guard(input->lock);
    if (input->queued != nullptr || input->stopping || buffer->capacity < input->frameBytes) {
      return false;
    }
    // Reserved now; the header is the service's only once it is added.
    input->queued = buffer;
    buffer->bytesRecorded = 0;
  }
  bool added = PrepareMemory(input, buffer->capacity);
  if (added) {
    input->header.dwBytesRecorded = 0;
    added = waveInAddBuffer(input->device, &input->header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  }
  if (!added) {
    CriticalSectionGuard guard(input->lock);
    input->queued = nullptr;
  }
  return added;
}

bool Start(AudioInput* input) {
  return waveInStart(input->device) == MMSYSERR_NOERROR;
}

bool Stop(AudioInput* input) {
  bool queued;
  {
    CriticalSectionGuard guard(input->lock);
    if (input->stopping) return true;
    input->stopping = true;
    queued = input->queued != nullptr;
    if (!queued) SetEvent(input->settled);
  }
  SetEvent(input->mayStop);
  if (WaitForSingleObject(input->settled, kStopWaitMilliseconds) == WAIT_OBJECT_0) return true;
  // The service keeps the buffer: it comes back from here, and the header stays with the
  // input. A delivery under way ends first, as only one may run at a time.
  for (;;) {
    {
      CriticalSectionGuard guard(input->lock);
      if (!input->delivering) break;
    }
    WaitForSingleObject(input->settled, kResetRetryMilliseconds);
  }
  HandBack(input, false);
  return false;
}

bool Close(AudioInput* input) {
  Stop(input);
  SetEvent(input->mayClose);
  WaitForSingleObject(input->released, kCloseWaitMilliseconds);
  {
    CriticalSectionGuard guard(input->lock);
    if (WaitForSingleObject(input->released, 0) != WAIT_OBJECT_0) {
      Abandon(input);
      input = nullptr;
    }
  }
  if (input == nullptr) {
    KeepThisLibraryLoaded();
    return false;
  }
  JoinAndFree(input);
  return true;
}

}  // namespace

const AudioInputBackend kAudioInputBackend = {Open, Queue, Start, Stop, Close};

}  // namespace quorel
