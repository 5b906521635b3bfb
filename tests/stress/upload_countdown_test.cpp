// The upload with one fallible call failed at a time, counted through both backend tables (the
// HTTP exchange's and the files') in the order the calls come: for N = 1, 2, 3, ... call N
// fails, once or for good, until a run makes fewer than N calls and so completes. Every run
// gives the code of the step that failed first, leaves the audio file as it was and the
// response file as the README says, sends nothing before the request is begun, and leaves no
// heap, descriptor or thread behind. The server is the real test server on loopback; only the
// call that fails is not made.
#include <iostream>
#include <optional>
#include <set>

#include "VantrelQuorelSpeech.h"
#include "platform/files_backend.h"
#include "platform/http_backend.h"
#include "support/common/resource_footprint.h"
#include "support/portable/fault_countdown.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"

namespace quorel::test {
namespace {

using Mode = FaultCountdown::Mode;

constexpr size_t kFileLength = 3000;
constexpr char kEarlierAnswer[] = "an earlier answer";
// Several reads of the upload's.
const std::string kAnswer = PatternedBytes(10000);

// The steps of the upload that can fail, in the order it takes them.
enum class Step {
  kAudioOpen,
  kSession,
  kConnection,
  kRequest,
  kAudioSize,
  kHeaders,
  kBegin,
  kHeadSend,
  kAudioRead,
  kAudioSend,
  kTailSend,
  kEnd,
  kResponseCreate,
  kAnswerRead,
  kResponseWrite,
  kResponseClose,
  kAudioClose,
};
constexpr size_t kStepCount = static_cast<size_t>(Step::kAudioClose) + 1;

// Each step's name and the code the README gives when it fails first.
struct StepOutcome {
  const char* name;
  int32_t code;
};
const StepOutcome kOutcomes[kStepCount] = {
    {"audio open", QUOREL_SPEECH_AUDIO_OPEN_FAILED},
    {"session", QUOREL_SPEECH_SESSION_FAILED},
    {"connection", QUOREL_SPEECH_CONNECTION_FAILED},
    {"request", QUOREL_SPEECH_REQUEST_FAILED},
    {"audio size", QUOREL_SPEECH_AUDIO_READ_FAILED},
    {"headers", QUOREL_SPEECH_REQUEST_FAILED},
    {"begin", QUOREL_SPEECH_BEGIN_FAILED},
    {"head send", QUOREL_SPEECH_HEAD_SEND_FAILED},
    {"audio read", QUOREL_SPEECH_AUDIO_READ_FAILED},
    {"audio send", QUOREL_SPEECH_AUDIO_SEND_FAILED},
    {"tail send", QUOREL_SPEECH_TAIL_SEND_FAILED},
    {"end", QUOREL_SPEECH_NO_ANSWER},
    {"response create", QUOREL_SPEECH_RESPONSE_WRITE_FAILED},
    {"answer read", QUOREL_SPEECH_NO_ANSWER},
    {"response write", QUOREL_SPEECH_RESPONSE_WRITE_FAILED},
    {"response close", QUOREL_SPEECH_RESPONSE_WRITE_FAILED},
    {"audio close", QUOREL_SUCCESS},  // the audio file was only read
};

int32_t ExpectedCode(std::optional<Step> failed, Mode mode) {
  if (!failed) return QUOREL_SUCCESS;
  // Failing for good after the end, the response file cannot be created or closed either: 11
  // wins over 10, so that a file that may not hold what arrived is never read as if it did.
  if (mode == Mode::kPersistent && (*failed == Step::kEnd || *failed == Step::kAnswerRead)) {
    return QUOREL_SPEECH_RESPONSE_WRITE_FAILED;
  }
  return kOutcomes[static_cast<size_t>(*failed)].code;
}

// The countdown of the run in progress and what the wrappers saw of it.
struct Injection {
  explicit Injection(FaultCountdown counting) : countdown(counting) {}
  FaultCountdown countdown;
  int flushes = 0;         // the head, the file and the tail each end with a flush
  intptr_t response = -1;  // the response file's handle once created
  bool responseCreated = false;
  std::optional<Step> failed;  // the step of the first failed call
};
Injection* injection = nullptr;

bool Fails(Step step) {
  if (!injection->countdown.ShouldFail()) return false;
  if (!injection->failed) injection->failed = step;
  return true;
}

Step SendStep() {
  return injection->flushes == 0   ? Step::kHeadSend
         : injection->flushes == 1 ? Step::kAudioSend
                                   : Step::kTailSend;
}

HttpBackend CountedHttp() {
  HttpBackend table = kHttpBackend;
  table.openSession = [](const char* agent) {
    return Fails(Step::kSession) ? nullptr : kHttpBackend.openSession(agent);
  };
  table.setUpConnection = [](HttpSession* session, const HttpEndpoint& endpoint) {
    return Fails(Step::kConnection) ? nullptr : kHttpBackend.setUpConnection(session, endpoint);
  };
  table.openRequest = [](HttpConnection* connection, const char* verb, const char* target) {
    return Fails(Step::kRequest) ? nullptr : kHttpBackend.openRequest(connection, verb, target);
  };
  table.addHeaders = [](HttpRequest* request, const char* block) {
    return !Fails(Step::kHeaders) && kHttpBackend.addHeaders(request, block);
  };
  table.beginRequest = [](HttpRequest* request, uint32_t length) {
    return !Fails(Step::kBegin) && kHttpBackend.beginRequest(request, length);
  };
  table.write = [](HttpRequest* request, const void* data, uint32_t count) {
    return !Fails(SendStep()) && kHttpBackend.write(request, data, count);
  };
  table.flush = [](HttpRequest* request) {
    const Step step = SendStep();
    ++injection->flushes;
    return !Fails(step) && kHttpBackend.flush(request);
  };
  table.endRequest = [](HttpRequest* request) {
    return !Fails(Step::kEnd) && kHttpBackend.endRequest(request);
  };
  table.read = [](HttpRequest* request, void* buffer, uint32_t capacity, uint32_t* count) {
    return Fails(Step::kAnswerRead) ? HttpReadResult::kFailed
                                    : kHttpBackend.read(request, buffer, capacity, count);
  };
  return table;
}

FileBackend CountedFiles() {
  FileBackend table = kFileBackend;
  table.open = [](const char16_t* path, FileAccess access) -> intptr_t {
    const bool response = access == FileAccess::kCreateForWriting;
    if (Fails(response ? Step::kResponseCreate : Step::kAudioOpen)) return -1;
    const intptr_t handle = kFileBackend.open(path, access);
    if (response) {
      injection->response = handle;
      injection->responseCreated = handle != -1;
    }
    return handle;
  };
  table.size = [](intptr_t handle) -> int64_t {
    return Fails(Step::kAudioSize) ? -1 : kFileBackend.size(handle);
  };
  table.read = [](intptr_t handle, void* data, size_t count) -> int64_t {
    return Fails(Step::kAudioRead) ? -1 : kFileBackend.read(handle, data, count);
  };
  table.write = [](intptr_t handle, const void* data, size_t count) -> size_t {
    return Fails(Step::kResponseWrite) ? 0 : kFileBackend.write(handle, data, count);
  };
  table.close = [](intptr_t handle) {
    const bool failed =
        Fails(handle == injection->response ? Step::kResponseClose : Step::kAudioClose);
    return kFileBackend.close(handle) && !failed;  // released either way
  };
  return table;
}

bool IsPrefixOfAnswer(const std::string& bytes) {
  return bytes.size() <= kAnswer.size() && kAnswer.compare(0, bytes.size(), bytes) == 0;
}

class UploadCountdown : public UploadTest, public ::testing::WithParamInterface<Mode> {
 protected:
  // One upload with call failingCall failed, checked; the step that failed first, if any. The
  // first run of each call prints its row: the call, its step, the code.
  std::optional<Step> UploadFailing(int failingCall, bool printed = false) {
    const Mode mode = GetParam();
    const std::string file = PatternedBytes(kFileLength);
    WriteFile(audio_, file);
    WriteFile(ResponsePath(), kEarlierAnswer);
    TlsServerOptions options;
    options.answerBody = kAnswer;
    const auto server = Serve(options);

    Injection run{FaultCountdown(failingCall, mode)};
    injection = &run;
    HttpBackendInUse() = CountedHttp();
    FileBackendInUse() = CountedFiles();
    const int32_t code = UploadSpeech(TestEndpoint(server->Port()), Utf16(audio_).c_str(), u"KEY",
                                      Utf16(ResponsePath()).c_str());
    HttpBackendInUse() = kHttpBackend;
    FileBackendInUse() = kFileBackend;
    injection = nullptr;

    const char* stepName = run.failed ? kOutcomes[static_cast<size_t>(*run.failed)].name : "none";
    SCOPED_TRACE(::testing::Message() << "call " << failingCall << " failed (" << stepName << ")");
    if (printed) std::cout << "call " << failingCall << " (" << stepName << "): " << code << "\n";
    EXPECT_EQ(code, ExpectedCode(run.failed, mode));
    EXPECT_TRUE(ReadFile(audio_) == file) << "the audio file changed";
    const std::string response = ReadFile(ResponsePath());
    if (code == QUOREL_SUCCESS) {
      EXPECT_TRUE(response == kAnswer) << response.size() << " bytes stored";
    } else if (!run.responseCreated) {
      EXPECT_EQ(response, kEarlierAnswer);
    } else {
      // Created once the request went out whole: what arrived before the failure, no more.
      EXPECT_TRUE(IsPrefixOfAnswer(response)) << response.size() << " bytes stored";
      EXPECT_TRUE(code == QUOREL_SPEECH_NO_ANSWER || code == QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
    }
    if (code == QUOREL_SUCCESS || run.failed >= Step::kEnd) {
      const auto exchanges = server->WaitForExchanges(1);
      EXPECT_EQ(exchanges.size(), 1u) << "the whole request did not reach the server";
      if (exchanges.size() == 1) ExpectWireRequest(exchanges[0], file);
    } else if (run.failed < Step::kBegin) {
      EXPECT_EQ(server->ConnectionCount(), 0u) << "contact before the request was begun";
    }
    EXPECT_LE(server->ConnectionCount(), 1u);
    return run.failed;
  }

  const std::string audio_ = ScratchPath("audio.wav");
};

TEST_P(UploadCountdown, EveryFallibleCallFailsInTurn) {
  std::set<Step> reached;
  int failingCall = 1;
  for (;; ++failingCall) {
    const std::optional<Step> failed = UploadFailing(failingCall, true);
    if (!failed) break;  // fewer calls than failingCall: the upload went through untouched
    reached.insert(*failed);
    EXPECT_TRUE(LeavesNothingBehind([&] { UploadFailing(failingCall); }))
        << "call " << failingCall << " failed";
    ASSERT_LT(failingCall, 100) << "the upload never completes";
  }
  std::cout << "the upload makes " << failingCall - 1 << " fallible calls\n";
  for (size_t step = 0; step < kStepCount; ++step) {
    EXPECT_EQ(reached.count(static_cast<Step>(step)), 1u)
        << kOutcomes[step].name << " never failed";
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, UploadCountdown,
                         ::testing::Values(Mode::kTransient, Mode::kPersistent),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return info.param == Mode::kTransient ? "Transient" : "Persistent";
                         });

}  // namespace
}  // namespace quorel::test
