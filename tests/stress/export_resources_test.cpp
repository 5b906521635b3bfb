// The three exports, called through the shared library, on each success and failure path the
// test can bring about: none may leave a heap block, a descriptor or a thread behind
// (support/common/resource_footprint.h; ALSA's configuration, the sound server's client and the
// TLS library set up on the first calls what they keep for the life of the process). Run under
// LeakSanitizer, the program also reports any block left unreachable at exit.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "support/audio/private_pulse_audio.h"
#include "support/audio/wave_file_checks.h"
#include "support/common/child_process.h"
#include "support/common/resource_footprint.h"
#include "upload/upload_fixture.h"

namespace quorel::test {
namespace {

// The test TLS server as a process of its own on the service's port, so that its threads and
// its records of the requests stay out of the counts.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& options) : server_(Command(options)) {
    // The server prints its port once it listens.
    listening_ = server_.AwaitOutputLine("port ");
  }
  ~ServerProcess() {
    server_.Signal(SIGTERM);
    server_.Finish();
  }
  bool Listening() const { return listening_; }

 private:
  static std::vector<std::string> Command(std::vector<std::string> options) {
    const CertificateFiles& certificate =
        std::find(options.begin(), options.end(), "--untrusted") != options.end()
            ? Certificates().otherCa
            : Certificates().localhost;
    options.erase(std::remove(options.begin(), options.end(), "--untrusted"), options.end());
    std::vector<std::string> command{QUOREL_TLS_TEST_SERVER_COMMAND,
                                     "--port",
                                     std::to_string(QUOREL_TEST_SERVICE_PORT),
                                     "--certificate",
                                     certificate.certificate,
                                     "--key",
                                     certificate.key};
    command.insert(command.end(), options.begin(), options.end());
    return command;
  }

  ChildProcess server_;
  bool listening_ = false;
};

class ExportResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WriteFile(QUOREL_TEST_SERVICE_CA_FILE, ReadFile(Certificates().caFile));
  }

  std::function<void()> Speech(const std::string& audio, const std::u16string& key,
                               const std::string& response, int32_t expected) {
    return [=] {
      EXPECT_EQ(QuorelSpeech(Utf16(audio).c_str(), key.c_str(), Utf16(response).c_str()), expected);
    };
  }

  std::function<void()> Recording(std::chrono::milliseconds length) {
    return [this, length] {
      ASSERT_EQ(QuorelSoundRecorderStart(Utf16(take_).c_str()), QUOREL_SUCCESS);
      std::this_thread::sleep_for(length);
      const int32_t count = QuorelSoundRecorderStop();
      EXPECT_TRUE(IsCompleteWave(ReadWholeFile(take_), count));
    };
  }

  ScratchFolder folder_;
  const std::string take_ = folder_.Path("take.wav");
  const std::string audio_ = folder_.Path("audio.wav");
  const std::string response_ = folder_.Path("answer.json");
};

TEST_F(ExportResources, RecorderPaths) {
  EXPECT_TRUE(LeavesNothingBehind(Recording(std::chrono::milliseconds(100))));
  EXPECT_TRUE(LeavesNothingBehind(Recording(std::chrono::milliseconds(1100)))) << "full buffer";
  EXPECT_TRUE(LeavesNothingBehind([this] {
    ASSERT_EQ(QuorelSoundRecorderStart(Utf16(take_).c_str()), QUOREL_SUCCESS);
    EXPECT_EQ(QuorelSoundRecorderStart(Utf16(folder_.Path("second.wav")).c_str()),
              QUOREL_START_ALREADY_RECORDING);
    QuorelSoundRecorderStop();
  })) << "second Start";
  EXPECT_TRUE(LeavesNothingBehind([this] {
    // A Stop on another thread that may come while Start is still opening the input.
    std::thread stop([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      QuorelSoundRecorderStop();
    });
    EXPECT_EQ(QuorelSoundRecorderStart(Utf16(take_).c_str()), QUOREL_SUCCESS);
    stop.join();
    QuorelSoundRecorderStop();  // when that Stop came first
    const std::vector<uint8_t> file = ReadWholeFile(take_);
    EXPECT_TRUE(IsCompleteWave(file, file.size() - 44));
  })) << "Stop racing Start";
  EXPECT_TRUE(LeavesNothingBehind([this] {
    EXPECT_EQ(QuorelSoundRecorderStart(Utf16(folder_.Path("missing/take.wav")).c_str()),
              QUOREL_START_FILE_CREATE_FAILED);
    EXPECT_EQ(QuorelSoundRecorderStop(), 0);
  })) << "file not created";
  EXPECT_TRUE(LeavesNothingBehind([] { EXPECT_EQ(QuorelSoundRecorderStop(), 0); })) << "Stop alone";

  const std::string config = folder_.Path("no-device.conf");
  std::ofstream(config) << "pcm.!default { type hw card 31 }\n";
  AlsaConfigOverride noDevice(config);
  EXPECT_TRUE(LeavesNothingBehind([this] {
    EXPECT_EQ(QuorelSoundRecorderStart(Utf16(take_).c_str()), QUOREL_START_INPUT_OPEN_FAILED);
    EXPECT_EQ(QuorelSoundRecorderStop(), 0);
  })) << "no input";
}

TEST_F(ExportResources, UploadPathsBeforeTheNetwork) {
  WriteFile(audio_, PatternedBytes(3000));
  EXPECT_TRUE(LeavesNothingBehind(
      Speech(folder_.Path("none.wav"), u"KEY", response_, QUOREL_SPEECH_AUDIO_OPEN_FAILED)));
  EXPECT_TRUE(LeavesNothingBehind([this] {
    EXPECT_EQ(QuorelSpeech(nullptr, nullptr, nullptr), QUOREL_SPEECH_AUDIO_OPEN_FAILED);
    EXPECT_EQ(QuorelSpeech(Utf16(audio_).c_str(), nullptr, Utf16(response_).c_str()),
              QUOREL_SPEECH_REQUEST_FAILED);
  }));
  const char16_t loneSurrogate[] = {u'K', 0xD800, 0};
  EXPECT_TRUE(
      LeavesNothingBehind(Speech(audio_, loneSurrogate, response_, QUOREL_SPEECH_REQUEST_FAILED)));
}

TEST_F(ExportResources, UploadPathsOverTheNetwork) {
  WriteFile(audio_, PatternedBytes(40000));
  {
    const ServerProcess server({});
    ASSERT_TRUE(server.Listening());
    EXPECT_TRUE(LeavesNothingBehind(Speech(audio_, u"KEY", response_, QUOREL_SUCCESS)));
    // Read as a file, a folder fails at its first read.
    EXPECT_TRUE(LeavesNothingBehind(
        Speech(folder_.Path(""), u"KEY", response_, QUOREL_SPEECH_AUDIO_READ_FAILED)));
    EXPECT_TRUE(LeavesNothingBehind(Speech(audio_, u"KEY", folder_.Path("missing/answer.json"),
                                           QUOREL_SPEECH_RESPONSE_WRITE_FAILED)));
  }
  const std::pair<std::vector<std::string>, int32_t> failures[] = {
      {{"--misbehave", "refuse"}, QUOREL_SPEECH_BEGIN_FAILED},
      {{"--misbehave", "fail-handshake"}, QUOREL_SPEECH_BEGIN_FAILED},
      {{"--untrusted"}, QUOREL_SPEECH_BEGIN_FAILED},
      {{"--misbehave", "no-answer"}, QUOREL_SPEECH_NO_ANSWER},
      {{"--misbehave", "cut-answer", "--answer-size", "20000"}, QUOREL_SPEECH_NO_ANSWER},
      // A file far larger than the buffers between the ends, reset while it goes.
      {{"--misbehave", "close-in-request", "--request-body-limit", "65536", "--receive-buffer",
        "16384"},
       QUOREL_SPEECH_AUDIO_SEND_FAILED},
  };
  WriteFile(audio_, PatternedBytes(4 << 20));
  for (const auto& [options, expected] : failures) {
    const ServerProcess server(options);
    ASSERT_TRUE(server.Listening());
    EXPECT_TRUE(LeavesNothingBehind(Speech(audio_, u"KEY", response_, expected)))
        << options[0] << " " << (options.size() > 1 ? options[1] : "");
  }
}

}  // namespace
}  // namespace quorel::test
