// The quorel tool as a user runs it: exit codes, messages, recordings ended every way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "end_to_end/child_process.h"
#include "end_to_end/spoken_input.h"
#include "result_messages.h"
#include "service/service_process.h"
#include "service/wave_builder.h"

namespace quorel::test {
namespace {

const std::string kTool = QUOREL_TOOL_UNDER_TEST;

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
  return value;
}

// The finished WAV's header agrees with its length and the recorder's format; its data length.
uint32_t ExpectFinishedWave(const std::string& path) {
  const std::string file = ReadWholeFile(path);
  EXPECT_GE(file.size(), 44u);
  if (file.size() < 44) return 0;
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), file.size() - 8);
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le32(file, 16), 16u);
  EXPECT_EQ(Le32(file, 20), 1u | (1u << 16));  // PCM, one channel
  EXPECT_EQ(Le32(file, 24), 16000u);
  EXPECT_EQ(Le32(file, 28), 32000u);
  EXPECT_EQ(Le32(file, 32), 2u | (16u << 16));  // block alignment 2, 16 bits
  EXPECT_EQ(file.substr(36, 4), "data");
  EXPECT_EQ(Le32(file, 40), file.size() - 44);
  return Le32(file, 40);
}

std::string ReportedBytes(uint32_t dataBytes) {
  return "recorded " + std::to_string(dataBytes) + " bytes";
}

// Waits until the recording has reached the file: the header and at least one second of audio.
void AwaitAudio(const std::string& path) {
  struct stat info {};
  while (stat(path.c_str(), &info) != 0 || info.st_size < 44 + 32000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(ToolMessages, NameEveryResultCodeInPlainWordsWithTheCode) {
  std::set<std::string> messages;
  for (const int32_t code : {QUOREL_SUCCESS, QUOREL_START_INPUT_OPEN_FAILED,
                             QUOREL_START_BUFFER_QUEUE_FAILED, QUOREL_START_CAPTURE_FAILED,
                             QUOREL_START_FILE_CREATE_FAILED, QUOREL_START_ALREADY_RECORDING}) {
    const std::string message = tool::DescribeStartResult(code);
    EXPECT_NE(message.find("(result code " + std::to_string(code) + ")"), std::string::npos);
    EXPECT_TRUE(messages.insert(message).second) << message;
  }
  for (const int32_t code :
       {QUOREL_SUCCESS, QUOREL_SPEECH_AUDIO_OPEN_FAILED, QUOREL_SPEECH_SESSION_FAILED,
        QUOREL_SPEECH_CONNECTION_FAILED, QUOREL_SPEECH_REQUEST_FAILED, QUOREL_SPEECH_BEGIN_FAILED,
        QUOREL_SPEECH_HEAD_SEND_FAILED, QUOREL_SPEECH_AUDIO_READ_FAILED,
        QUOREL_SPEECH_AUDIO_SEND_FAILED, QUOREL_SPEECH_TAIL_SEND_FAILED, QUOREL_SPEECH_NO_ANSWER,
        QUOREL_SPEECH_RESPONSE_WRITE_FAILED}) {
    const std::string message = tool::DescribeSpeechResult(code);
    EXPECT_NE(message.find("(result code " + std::to_string(code) + ")"), std::string::npos);
    EXPECT_TRUE(messages.insert(message).second) << message;
  }
  EXPECT_NE(tool::DescribeSpeechResult(6).find("unknown"), std::string::npos);
}

TEST(ToolCommandLine, AnswersHelpVersionAndWrongUsage) {
  const ChildResult help = RunChild({kTool, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(RunChild({kTool, "--version"}).exitCode, 0);
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                {"transcribe"},
                                                {"record"},
                                                {"record", "a.wav", "b.wav"},
                                                {"record", "a.wav", "--seconds", "soon"},
                                                {"record", "a.wav", "--seconds", "-1"},
                                                {"record", "a.wav", "--key", "K"},
                                                {"send", "a.wav"},
                                                {"send", "a.wav", "--key"},
                                                {"listen", "a.wav", "--key", "K"},
                                                {"send", "a.wav", "--key", "K", "--bogus"}}) {
    std::vector<std::string> arguments{kTool};
    arguments.insert(arguments.end(), wrong.begin(), wrong.end());
    const ChildResult result = RunChild(arguments);
    EXPECT_EQ(result.exitCode, 2) << wrong.size();
    EXPECT_NE(result.err.find("quorel: "), std::string::npos);
  }
}

TEST(ToolRecording, ExplainsAFileThatCannotBeCreated) {
  const ChildResult result = RunChild({kTool, "record", "/nonexistent-folder/x.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("(result code 4)"), std::string::npos) << result.err;
}

TEST(ToolRecording, SigintEndsTheRecordingWithAFinishedHeader) {
  const std::string wave = MakeTemporaryFolder() + "/interrupted.wav";
  ChildProcess tool({kTool, "record", wave});
  AwaitAudio(wave);
  tool.Signal(SIGINT);
  const ChildResult result = tool.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const uint32_t dataBytes = ExpectFinishedWave(wave);
  EXPECT_GE(dataBytes, 32000u);
  EXPECT_NE(result.out.find(ReportedBytes(dataBytes)), std::string::npos) << result.out;
  EXPECT_EQ(result.err, "");  // off a terminal: no meter
}

TEST(ToolRecording, SigtermAndEnterEndItToo) {
  for (const bool byEnter : {false, true}) {
    const std::string wave = MakeTemporaryFolder() + "/ended.wav";
    ChildProcess tool({kTool, "record", wave});
    AwaitAudio(wave);
    if (byEnter) {
      tool.WriteInput("\n");
    } else {
      tool.Signal(SIGTERM);
    }
    const ChildResult result = tool.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(ReportedBytes(ExpectFinishedWave(wave))), std::string::npos);
  }
}

TEST(ToolRecording, SecondsEndItOnTheirOwn) {
  const std::string wave = MakeTemporaryFolder() + "/timed.wav";
  const ChildResult result = RunChild({kTool, "record", wave, "--seconds", "3"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const uint32_t dataBytes = ExpectFinishedWave(wave);
  EXPECT_GT(dataBytes, 0u);
  EXPECT_NE(result.out.find(ReportedBytes(dataBytes)), std::string::npos) << result.out;
}

class ToolSending : public testing::Test {
 protected:
  void SetUp() override { std::ofstream(wave_, std::ios::binary) << MakeWave(SilencePcm(0.5)); }

  ChildResult Send(const std::string& key, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{kTool, "send", wave_, "--key", key};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunChild(arguments);
  }

  const std::string folder_ = MakeTemporaryFolder();
  const std::string wave_ = folder_ + "/silence.wav";
};

TEST_F(ToolSending, ExplainsAMissingFileAndAnAbsentService) {
  const ChildResult missing = RunChild({kTool, "send", folder_ + "/none.wav", "--key", "K"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("(result code 1)"), std::string::npos) << missing.err;
  const ChildResult absent = Send("K");  // nothing listens on the test service's port
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_NE(absent.err.find("(result code 5)"), std::string::npos) << absent.err;
}

TEST_F(ToolSending, PrintsOrStoresTheAnswerAndExplainsARefusal) {
  ServiceProcess service({"--key", "K1", "--port", std::to_string(QUOREL_END_TO_END_SERVICE_PORT)},
                         QUOREL_TEST_SERVICE_STATE);
  ASSERT_TRUE(service.Running()) << service.Output();
  const ChildResult printed = Send("K1");
  EXPECT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_TRUE(nlohmann::json::parse(printed.out).contains("transcript")) << printed.out;

  const std::string answer = folder_ + "/answer.json";
  const ChildResult stored = Send("K1", {"--out", answer});
  EXPECT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_TRUE(nlohmann::json::parse(ReadWholeFile(answer)).contains("transcript"));

  const ChildResult refused = Send("K2", {"--out", answer});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.err.find("403 unknown_key"), std::string::npos) << refused.err;
  EXPECT_EQ(nlohmann::json::parse(ReadWholeFile(answer))["error"]["status"], 403);
}

}  // namespace
}  // namespace quorel::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new quorel::test::SpokenInput);
  return RUN_ALL_TESTS();
}
