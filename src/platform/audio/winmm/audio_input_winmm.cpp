// The default audio input over the wave-audio input service (winmm). The service calls a
// CALLBACK_FUNCTION on a thread of its own, where it allows only a few system calls (critical
// sections, SetEvent, PostMessage and the like), while the recorder re-queues its buffer and
// writes the file from its handler. So the service callback only queues each message under a
// critical section and sets an event for this input's delivery thread, which runs the handler;
// a handler may then call every AudioInput function except Close.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <mmsystem.h>

#include <new>

#include "platform/audio_input.h"

namespace quorel {

namespace {

// The handler's message for a waveIn message id; 0, which no handler acts on, for any other.
uint32_t HandlerMessage(UINT id) {
  switch (id) {
    case WIM_OPEN:
      return kAudioInputOpened;
    case WIM_CLOSE:
      return kAudioInputClosed;
    case WIM_DATA:
      return kAudioInputData;
    default:
      return 0;
  }
}

// Buffers prepared at once on one input; the recorder uses one.
constexpr size_t kMaxBuffers = 8;

// How long Close waits for the service to hand back a buffer after its reset.
constexpr DWORD kHandBackMilliseconds = 2000;
constexpr DWORD kHandBackPollMilliseconds = 10;

struct Message {
  UINT id;
  WAVEHDR* header;
};

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
  HWAVEIN device = nullptr;
  AudioInputCallback callback = nullptr;
  uintptr_t instance = 0;
  HANDLE deliveryThread = nullptr;
  // Set by WaveInProc for each message it queues (auto-reset).
  HANDLE posted = nullptr;

  // Guards everything below. Never held across a winmm call: the service may call back into
  // WaveInProc from inside waveInStop or waveInReset.
  CRITICAL_SECTION lock;
  AudioBuffer* owners[kMaxBuffers] = {};  // the buffer each prepared header describes
  WAVEHDR headers[kMaxBuffers] = {};
  // Posted and not yet delivered. A buffer comes back once per queueing and a handler
  // re-queues only what it was handed, so far fewer are ever outstanding.
  Message messages[64] = {};
  size_t firstMessage = 0;
  size_t messageCount = 0;
  bool closing = false;
};

namespace {

constexpr size_t kMessageCapacity = sizeof(AudioInput::messages) / sizeof(Message);

// Only calls that the service allows in its callback: a critical section and SetEvent.
void CALLBACK WaveInProc(HWAVEIN, UINT id, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  AudioInput* input = reinterpret_cast<AudioInput*>(instance);
  {
    CriticalSectionGuard guard(input->lock);
    if (input->messageCount == kMessageCapacity) return;
    const size_t slot = (input->firstMessage + input->messageCount++) % kMessageCapacity;
    input->messages[slot] = {id, id == WIM_DATA ? reinterpret_cast<WAVEHDR*>(param1) : nullptr};
  }
  SetEvent(input->posted);
}

// Takes the next message off the queue; false once the input is closing and nothing is left.
bool NextMessage(AudioInput* input, Message* message) {
  for (;;) {
    {
      CriticalSectionGuard guard(input->lock);
      if (input->messageCount > 0) {
        *message = input->messages[input->firstMessage];
        input->firstMessage = (input->firstMessage + 1) % kMessageCapacity;
        --input->messageCount;
        return true;
      }
      if (input->closing) return false;
    }
    WaitForSingleObject(input->posted, INFINITE);
  }
}

DWORD WINAPI DeliveryThread(void* parameter) {
  AudioInput* input = static_cast<AudioInput*>(parameter);
  Message message;
  while (NextMessage(input, &message)) {
    uintptr_t param1 = 0;
    if (message.header != nullptr) {
      AudioBuffer* buffer = reinterpret_cast<AudioBuffer*>(message.header->dwUser);
      buffer->bytesRecorded = message.header->dwBytesRecorded;
      buffer->flags = message.header->dwFlags;
      param1 = reinterpret_cast<uintptr_t>(buffer);
    }
    input->callback(input, HandlerMessage(message.id), input->instance, param1, 0);
  }
  return 0;
}

void EndDeliveryThread(AudioInput* input) {
  {
    CriticalSectionGuard guard(input->lock);
    input->closing = true;
  }
  SetEvent(input->posted);
  WaitForSingleObject(input->deliveryThread, INFINITE);
  CloseHandle(input->deliveryThread);
}

AudioInput* NewInput(AudioInputCallback callback, uintptr_t instance) {
  AudioInput* input = new (std::nothrow) AudioInput;
  if (input == nullptr) return nullptr;
  input->callback = callback;
  input->instance = instance;
  InitializeCriticalSection(&input->lock);
  input->posted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (input->posted != nullptr) {
    input->deliveryThread = CreateThread(nullptr, 0, DeliveryThread, input, 0, nullptr);
    if (input->deliveryThread != nullptr) return input;
    CloseHandle(input->posted);
  }
  DeleteCriticalSection(&input->lock);
  delete input;
  return nullptr;
}

void DeleteInput(AudioInput* input) {
  EndDeliveryThread(input);  // delivers what the service posted before it closed, then ends
  CloseHandle(input->posted);
  DeleteCriticalSection(&input->lock);
  delete input;
}

// The header prepared for buffer, or null.
WAVEHDR* HeaderOf(AudioInput* input, const AudioBuffer* buffer) {
  if (buffer == nullptr) return nullptr;
  CriticalSectionGuard guard(input->lock);
  for (size_t i = 0; i < kMaxBuffers; ++i) {
    if (input->owners[i] == buffer) return &input->headers[i];
  }
  return nullptr;
}

// A free header, now reserved for buffer, or null when all are taken.
WAVEHDR* ClaimHeader(AudioInput* input, AudioBuffer* buffer) {
  CriticalSectionGuard guard(input->lock);
  for (size_t i = 0; i < kMaxBuffers; ++i) {
    if (input->owners[i] == nullptr) {
      input->owners[i] = buffer;
      return &input->headers[i];
    }
  }
  return nullptr;
}

void ReleaseHeader(AudioInput* input, WAVEHDR* header) {
  CriticalSectionGuard guard(input->lock);
  input->owners[header - input->headers] = nullptr;
}

bool HoldsQueuedBuffer(AudioInput* input) {
  CriticalSectionGuard guard(input->lock);
  for (size_t i = 0; i < kMaxBuffers; ++i) {
    if (input->owners[i] != nullptr && (input->headers[i].dwFlags & WHDR_INQUEUE)) return true;
  }
  return false;
}

}  // namespace

int AudioInputOpen(AudioInputHandle* input, const AudioFormat& format, AudioInputCallback callback,
                   uintptr_t instance) {
  if (input == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  *input = nullptr;
  AudioInput* opened = NewInput(callback, instance);
  if (opened == nullptr) return MMSYSERR_NOMEM;
  WAVEFORMATEX wave{format.formatTag,        format.channels,
                    format.samplesPerSecond, format.averageBytesPerSecond,
                    format.blockAlign,       format.bitsPerSample,
                    format.extraSize};
  const MMRESULT result =
      waveInOpen(&opened->device, WAVE_MAPPER, &wave, reinterpret_cast<DWORD_PTR>(&WaveInProc),
                 reinterpret_cast<DWORD_PTR>(opened), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) {
    DeleteInput(opened);
    return result;
  }
  *input = opened;
  return MMSYSERR_NOERROR;
}

int AudioInputPrepareBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  if (input == nullptr) return MMSYSERR_INVALHANDLE;
  if (buffer == nullptr) return MMSYSERR_INVALPARAM;
  if (HeaderOf(input, buffer) != nullptr) return MMSYSERR_NOERROR;
  WAVEHDR* header = ClaimHeader(input, buffer);
  if (header == nullptr) return MMSYSERR_NOMEM;
  *header = WAVEHDR{};
  header->lpData = reinterpret_cast<LPSTR>(buffer->data);
  header->dwBufferLength = buffer->bufferLength;
  header->dwUser = reinterpret_cast<DWORD_PTR>(buffer);
  header->dwLoops = buffer->loops;
  const MMRESULT result = waveInPrepareHeader(input->device, header, sizeof(WAVEHDR));
  if (result != MMSYSERR_NOERROR) ReleaseHeader(input, header);
  return result;
}

int AudioInputAddBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  if (input == nullptr) return MMSYSERR_INVALHANDLE;
  WAVEHDR* header = HeaderOf(input, buffer);
  if (header == nullptr) return WAVERR_UNPREPARED;
  header->dwBytesRecorded = buffer->bytesRecorded;
  return waveInAddBuffer(input->device, header, sizeof(WAVEHDR));
}

int AudioInputStart(AudioInputHandle input) {
  return input == nullptr ? MMSYSERR_INVALHANDLE : waveInStart(input->device);
}

int AudioInputStop(AudioInputHandle input) {
  return input == nullptr ? MMSYSERR_INVALHANDLE : waveInStop(input->device);
}

int AudioInputReset(AudioInputHandle input) {
  return input == nullptr ? MMSYSERR_INVALHANDLE : waveInReset(input->device);
}

int AudioInputUnprepareBuffer(AudioInputHandle input, AudioBuffer* buffer) {
  if (input == nullptr) return MMSYSERR_INVALHANDLE;
  WAVEHDR* header = HeaderOf(input, buffer);
  if (header == nullptr) return MMSYSERR_NOERROR;
  const MMRESULT result = waveInUnprepareHeader(input->device, header, sizeof(WAVEHDR));
  if (result == MMSYSERR_NOERROR) ReleaseHeader(input, header);
  return result;
}

int AudioInputClose(AudioInputHandle input) {
  if (input == nullptr) return MMSYSERR_INVALHANDLE;
  // Windows refuses to close an input that still holds a buffer, and Wine closes it without
  // ever handing the buffer back; either way the caller's buffer would stay with the service.
  // So a buffer still queued (the caller's reset failed, or it made none) is reclaimed here:
  // reset, tried again while the service keeps it, and the hand-back awaited.
  for (DWORD waited = 0; HoldsQueuedBuffer(input) && waited < kHandBackMilliseconds;
       waited += kHandBackPollMilliseconds) {
    waveInReset(input->device);
    Sleep(kHandBackPollMilliseconds);
  }
  for (size_t i = 0; i < kMaxBuffers; ++i) {
    AudioBuffer* buffer;
    {
      CriticalSectionGuard guard(input->lock);
      buffer = input->owners[i];
    }
    if (buffer != nullptr) AudioInputUnprepareBuffer(input, buffer);
  }
  // Still refused: the service holds the input and may call WaveInProc with it, so it is kept.
  const MMRESULT result = waveInClose(input->device);
  if (result != MMSYSERR_NOERROR) return result;
  DeleteInput(input);
  return MMSYSERR_NOERROR;
}

}  // namespace quorel
