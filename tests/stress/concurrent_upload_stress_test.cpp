// Eight threads upload at once, 320 calls in all, to test servers that answer well and to
// servers that misbehave at different phases, while recordings run through the real capture
// path. Each call must give its own code and leave its own answer in its own file; each server
// must have received exactly the bodies of the threads that called it.
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"
#include "support/audio/wave_file_checks.h"
#include "support/tls/tls_test_server.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"

namespace quorel::test {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 40;
// Shorter than the counter signal the capture reads, so every take holds it from its start.
constexpr auto kLongestTake = std::chrono::seconds(4);

struct Misbehaving {
  const char* name;
  Misbehaviour misbehaviour;
  bool untrustedCertificate;
  int32_t expected;
};

// The request of a call that never began leaves the response file as it was; one that went out
// whole replaces it with what arrived (half the answer of a server that cuts it).
const Misbehaving kMisbehaving[] = {
    {"refuse", Misbehaviour::kRefuse, false, QUOREL_SPEECH_BEGIN_FAILED},
    {"fail-handshake", Misbehaviour::kFailHandshake, false, QUOREL_SPEECH_BEGIN_FAILED},
    {"untrusted", Misbehaviour::kNone, true, QUOREL_SPEECH_BEGIN_FAILED},
    {"no-answer", Misbehaviour::kNoAnswer, false, QUOREL_SPEECH_NO_ANSWER},
    {"cut-answer", Misbehaviour::kCutAnswer, false, QUOREL_SPEECH_NO_ANSWER},
};
constexpr int kMisbehavingCount = sizeof kMisbehaving / sizeof kMisbehaving[0];

std::string AnswerOf(int thread) {
  return "{\"thread\":" + std::to_string(thread) + ",\"pad\":\"" +
         PatternedBytes(3000 + thread * 1500) + "\"}";
}

std::unique_ptr<TlsTestServer> ServeAnswers(int thread) {
  TlsServerOptions options;
  options.answerBody = AnswerOf(thread);
  const AnswerFraming framings[] = {AnswerFraming::kContentLength, AnswerFraming::kChunked,
                                    AnswerFraming::kUntilClose};
  options.framing = framings[thread % 3];
  options.answerPieceSize = thread % 3 == 1 ? 1000 : 0;
  return Serve(options);
}

std::unique_ptr<TlsTestServer> ServeMisbehaving(const Misbehaving& kind) {
  TlsServerOptions options;
  const CertificateFiles& certificate =
      kind.untrustedCertificate ? Certificates().otherCa : Certificates().localhost;
  options.certificateFile = certificate.certificate;
  options.keyFile = certificate.key;
  options.misbehaviour = kind.misbehaviour;
  options.answerBody = PatternedBytes(8000);
  return std::make_unique<TlsTestServer>(options);
}

struct Call {
  int server;  // a thread's server (0 to 7), or kThreads + a misbehaving kind
  int32_t result;
};

// Takes of up to kLongestTake, one after another, until told to stop; each must hold the fed
// signal exactly.
void RecordUntil(const std::atomic<bool>& done, int& takes) {
  ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  while (!done) {
    ASSERT_EQ(SoundRecorderStart(Utf16(path).c_str()), QUOREL_SUCCESS);
    const auto started = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - started < kLongestTake) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int32_t count = SoundRecorderStop();
    const std::vector<uint8_t> file = ReadWholeFile(path);
    EXPECT_TRUE(IsCompleteWave(file, count)) << "take " << takes;
    EXPECT_TRUE(HoldsCounterSignal(file)) << "take " << takes;
    ++takes;
  }
}

TEST(ConcurrentUploadStress, EachCallGetsItsOwnCodeAndAnswerWhileARecordingRuns) {
  std::vector<std::unique_ptr<TlsTestServer>> servers;
  for (int thread = 0; thread < kThreads; ++thread) servers.push_back(ServeAnswers(thread));
  for (const Misbehaving& kind : kMisbehaving) servers.push_back(ServeMisbehaving(kind));
  std::vector<std::string> files;
  for (int thread = 0; thread < kThreads; ++thread) {
    // Sizes differ, so a server's recorded request names the thread that sent it.
    files.push_back(PatternedBytes(2000 + thread * 7001));
    WriteFile(ScratchPath("audio-" + std::to_string(thread)), files.back());
  }
  const size_t descriptors = OpenDescriptorCount();

  std::atomic<bool> uploadsDone{false};
  int takes = 0;
  std::thread recording([&] { RecordUntil(uploadsDone, takes); });
  std::vector<std::vector<Call>> calls(kThreads);
  std::vector<std::thread> uploaders;
  for (int thread = 0; thread < kThreads; ++thread) {
    uploaders.emplace_back([&, thread] {
      const std::u16string audio = Utf16(ScratchPath("audio-" + std::to_string(thread)));
      for (int call = 0; call < kCallsPerThread; ++call) {
        // Its own server mostly, now and then a neighbour's, every fifth call a misbehaving one.
        int server = thread;
        if (call % 5 == 3) server = kThreads + (thread + call / 5) % kMisbehavingCount;
        if (call % 5 == 4) server = (thread + 1) % kThreads;
        const std::string response =
            ScratchPath("answer-" + std::to_string(thread) + "-" + std::to_string(call));
        WriteFile(response, "earlier");
        const int32_t result = UploadSpeech(TestEndpoint(servers[server]->Port()), audio.c_str(),
                                            u"KEY", Utf16(response).c_str());
        calls[thread].push_back({server, result});
      }
    });
  }
  for (std::thread& uploader : uploaders) uploader.join();
  uploadsDone = true;
  recording.join();
  EXPECT_GT(takes, 0);

  std::map<int, size_t> callsPerServer;
  for (int thread = 0; thread < kThreads; ++thread) {
    for (int call = 0; call < kCallsPerThread; ++call) {
      const Call& made = calls[thread][call];
      const std::string response =
          ReadFile(ScratchPath("answer-" + std::to_string(thread) + "-" + std::to_string(call)));
      const std::string where = "thread " + std::to_string(thread) + " call " +
                                std::to_string(call) + " to server " + std::to_string(made.server);
      ++callsPerServer[made.server];
      if (made.server < kThreads) {
        EXPECT_EQ(made.result, QUOREL_SUCCESS) << where;
        EXPECT_TRUE(response == AnswerOf(made.server)) << where;
        continue;
      }
      const Misbehaving& kind = kMisbehaving[made.server - kThreads];
      EXPECT_EQ(made.result, kind.expected) << where << " (" << kind.name << ")";
      const std::string kept = kind.expected == QUOREL_SPEECH_BEGIN_FAILED ? "earlier"
                               : kind.misbehaviour == Misbehaviour::kCutAnswer
                                   ? PatternedBytes(8000).substr(0, 4000)
                                   : "";
      EXPECT_TRUE(response == kept) << where << " (" << kind.name << ")";
    }
  }
  // Every well-answering server saw the whole, unmixed body of each call made to it.
  for (int server = 0; server < kThreads; ++server) {
    const auto exchanges = servers[server]->WaitForExchanges(callsPerServer[server]);
    ASSERT_EQ(exchanges.size(), callsPerServer[server]) << "server " << server;
    for (const RecordedExchange& exchange : exchanges) {
      const int sender = server;
      const int neighbour = (server + kThreads - 1) % kThreads;
      const size_t fileLength = exchange.declaredBodyLength - 123;
      ASSERT_TRUE(fileLength == files[sender].size() || fileLength == files[neighbour].size());
      ExpectWireRequest(exchange,
                        fileLength == files[sender].size() ? files[sender] : files[neighbour]);
    }
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace quorel::test
