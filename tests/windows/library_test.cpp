// The DLL's three exports, called by ordinal as a host calls them: recording from the default
// input into a WAV file, and the upload to the test TLS server the DLL was built to reach. The
// recorder's cases that Linux shares are in tests/recorder/recorder_cases.cpp.
// Recorder cases run with the script's private PulseAudio server playing; Speech cases with
// its servers running.
#include <windows.h>

#include "VantrelQuorelSpeech.h"
#include "library_loader.h"
#include "support/portable/case_list.h"
#include "support/portable/file_bytes.h"
#include "support/portable/scratch_folder.h"
#include "support/portable/wave_checks.h"
#include "wire_checks.h"

namespace {

using namespace quorel::test;

// One upload through the DLL to the script's "dll" server; the request it recorded.
std::string UploadAndRecord(const LoadedExports& exports, const ScratchFolder& folder,
                            const std::string& file, const wchar_t* key, int32_t* result) {
  const std::wstring audio = folder.Path(L"audio.wav");
  WriteFile(audio, file);
  const RecordedRequests requests("DLL");
  const size_t before = requests.Count();
  *result = exports.speech(audio.c_str(), key, folder.Path(L"answer.json").c_str());
  return requests.Wait(before + 1);
}

}  // namespace

QUOREL_CASE(Recorder, AnUploadRunsWhileARecordingGoesOn) {
  const LoadedExports exports;
  REQUIRE(exports.start != nullptr);
  ScratchFolder folder;
  const std::wstring take = folder.Path(L"take.wav");
  REQUIRE_EQ(exports.start(take.c_str()), QUOREL_SUCCESS);
  int32_t result = 0;
  const std::string file = PatternedBytes(40000);
  const std::string request = UploadAndRecord(exports, folder, file, L"key", &result);
  Sleep(4000);
  const int32_t dataLength = exports.stop();
  CHECK_EQ(result, QUOREL_SUCCESS);
  CHECK_NO_FAULTS(WireRequestFaults(request, file, "key"));
  CHECK_NO_FAULTS(WaveFileFaults(ReadFile(take), dataLength));
  CHECK_GE(dataLength, 32000);  // a full buffer
}

QUOREL_CASE(Speech, SendsHeadFileAndTailExactlyAsDeclaredForEverySize) {
  const LoadedExports exports;
  REQUIRE(exports.speech != nullptr);
  // Empty, shorter than a chunk, chunk multiples (ending with a send of nothing), a megabyte.
  for (size_t size : {0, 1, 1023, 1024, 3 * 1024, 1024 * 1024 + 17}) {
    ScratchFolder folder;
    const std::string file = PatternedBytes(size);
    int32_t result = 0;
    const std::string request = UploadAndRecord(exports, folder, file, L"test-key", &result);
    CHECK_EQ(result, QUOREL_SUCCESS);
    CHECK_NO_FAULTS(WireRequestFaults(request, file, "test-key"));
    CHECK_EQ(ReadFile(folder.Path(L"answer.json")), "{\"result\":[]}\n");
  }
}

QUOREL_CASE(Speech, AMissingFileOrArgumentFailsBeforeAnyNetworkContact) {
  const LoadedExports exports;
  REQUIRE(exports.speech != nullptr);
  ScratchFolder folder;
  const std::wstring audio = folder.Path(L"audio.wav");
  const std::wstring answer = folder.Path(L"answer.json");
  WriteFile(audio, "x");
  const RecordedRequests requests("DLL");
  const size_t before = requests.Count();
  CHECK_EQ(exports.speech(folder.Path(L"missing.wav").c_str(), L"key", answer.c_str()),
           QUOREL_SPEECH_AUDIO_OPEN_FAILED);
  CHECK_EQ(exports.speech(nullptr, L"key", answer.c_str()), QUOREL_SPEECH_AUDIO_OPEN_FAILED);
  CHECK_EQ(exports.speech(audio.c_str(), nullptr, answer.c_str()), QUOREL_SPEECH_REQUEST_FAILED);
  CHECK_EQ(exports.speech(audio.c_str(), L"key", nullptr), QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
  CHECK(!FileExists(answer));
  // The next exchange the server records is this upload's: the failed calls made none. Its
  // key is percent-encoded only where it cannot stand in the target as it is.
  CHECK_EQ(exports.speech(audio.c_str(), L"k&x=1 %|\r\n\u00e9", answer.c_str()), QUOREL_SUCCESS);
  CHECK_NO_FAULTS(WireRequestFaults(requests.Wait(before + 1), "x", "k&x=1%20%%7C%0D%0A%C3%A9"));
}

namespace {

struct ThreadUpload {
  SpeechFunction speech;
  std::wstring audio, key, answer;
  int32_t result;
};

DWORD WINAPI RunUpload(void* parameter) {
  ThreadUpload& upload = *static_cast<ThreadUpload*>(parameter);
  upload.result = upload.speech(upload.audio.c_str(), upload.key.c_str(), upload.answer.c_str());
  return 0;
}

}  // namespace

QUOREL_CASE(Speech, UploadsOnSeveralThreadsAtOnceWithoutMixingTheirBodies) {
  const LoadedExports exports;
  REQUIRE(exports.speech != nullptr);
  constexpr int kThreads = 3;
  ScratchFolder folder;
  const RecordedRequests requests("DLL");
  const size_t before = requests.Count();
  ThreadUpload uploads[kThreads];
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    const std::wstring n = std::to_wstring(i);
    uploads[i] = {exports.speech, folder.Path(L"audio-" + n), L"thread-" + n,
                  folder.Path(L"answer-" + n), 0};
    WriteFile(uploads[i].audio, PatternedBytes(200000 + i * 999));
  }
  for (int i = 0; i < kThreads; ++i) {
    threads[i] = CreateThread(nullptr, 0, RunUpload, &uploads[i], 0, nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (int i = 0; i < kThreads; ++i) {
    CloseHandle(threads[i]);
    CHECK_EQ(uploads[i].result, QUOREL_SUCCESS);
    CHECK_EQ(ReadFile(uploads[i].answer), "{\"result\":[]}\n");
  }
  // The server records them in the order they ended; each one's key names its file.
  for (size_t index = before + 1; index <= before + kThreads; ++index) {
    const std::string request = requests.Wait(index);
    const size_t key = request.find("key=thread-");
    REQUIRE(key != std::string::npos);
    const int i = request[key + 11] - '0';
    REQUIRE(i >= 0 && i < kThreads);
    CHECK_NO_FAULTS(WireRequestFaults(request, PatternedBytes(200000 + i * 999),
                                      "thread-" + std::to_string(i)));
  }
}
