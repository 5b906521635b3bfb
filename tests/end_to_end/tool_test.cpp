// The quorel tool as a user runs it: exit codes, messages, recordings ended every way.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "end_to_end/spoken_input.h"
#include "result_messages.h"
#include "service/service_process.h"
#include "service/wave_builder.h"
#include "service_reachability.h"
#include "support/common/child_process.h"
#include "support/portable/file_bytes.h"
#include "support/portable/little_endian.h"
#include "support/portable/scratch_folder.h"
#include "support/portable/wave_checks.h"

namespace quorel::test {
namespace {

const std::string kTool = QUOREL_TOOL_UNDER_TEST;
const std::string kPort = std::to_string(QUOREL_END_TO_END_SERVICE_PORT);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Whether folder holds nothing (the tool's temporary files are gone).
bool IsEmptyFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  int entries = 0;
  while (dir != nullptr && readdir(dir) != nullptr) ++entries;
  if (dir != nullptr) closedir(dir);
  return dir != nullptr && entries == 2;  // . and ..
}

// The finished WAV's header agrees with its length and the recorder's format; its data length.
uint32_t ExpectFinishedWave(const std::string& path) {
  const std::string file = ReadFile(path);
  const uint32_t dataLength = file.size() < 44 ? 0 : Number32(file, 40);
  EXPECT_EQ(WaveFileFaults(file, dataLength), "");
  return dataLength;
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
  const ChildResult version = RunChild({kTool, "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "quorel " QUOREL_VERSION_TEXT "\nservice: https://localhost:" + kPort +
                             "/\ntrust store: " QUOREL_TEST_SERVICE_STATE "/authority.pem\n");
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

TEST(ToolRecording, ExplainsAFailedStartAndLeavesNoFileBehind) {
  const ChildResult uncreatable = RunChild({kTool, "record", "/nonexistent-folder/x.wav"});
  EXPECT_EQ(uncreatable.exitCode, 1);
  EXPECT_NE(uncreatable.err.find("(result code 4)"), std::string::npos) << uncreatable.err;
  // With its sound server out of reach, the default input cannot be opened.
  const ScratchFolder scratch;
  const std::string wave = scratch.Path("never.wav");
  const ChildResult noInput =
      RunChild({"env", "PULSE_SERVER=unix:/nonexistent", kTool, "record", wave});
  EXPECT_EQ(noInput.exitCode, 1);
  EXPECT_TRUE(Contains(noInput.err, "(result code 1)")) << noInput.err;
  EXPECT_NE(access(wave.c_str(), F_OK), 0) << "the empty WAV was left behind";
}

TEST(ToolRecording, DashWritesTheFinishedWaveToStandardOutput) {
  const ScratchFolder toolTemporary, scratch;
  const ChildResult result =
      RunChild({"env", "TMPDIR=" + toolTemporary.Root(), kTool, "record", "-", "--seconds", "3"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string wave = scratch.Path("from-stdout.wav");
  std::ofstream(wave, std::ios::binary) << result.out;
  const uint32_t dataBytes = ExpectFinishedWave(wave);
  EXPECT_GT(dataBytes, 0u);
  EXPECT_TRUE(Contains(result.err, ReportedBytes(dataBytes) + " (")) << result.err;
  EXPECT_TRUE(IsEmptyFolder(toolTemporary.Root()));
}

// Speech moves the level on the terminal's meter at least ten times within a second, which a
// level read from the file (written once a second) cannot do.
TEST(ToolRecording, TheMeterFollowsTheInputTenTimesASecond) {
  const ScratchFolder scratch;
  const std::string wave = scratch.Path("metered.wav");
  const ChildResult result =
      SpokenInput::Hear("how are you today my friend", wave, {kTool, "record", wave}, true);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::pair<double, std::string>> frames;  // elapsed seconds, level shown
  size_t at = 0;
  while ((at = result.err.find('\r', at)) != std::string::npos) {
    double elapsed = 0;
    char level[8] = {};
    if (std::sscanf(result.err.c_str() + ++at, "%lf s [%*[#.]] %7s dBFS", &elapsed, level) == 2) {
      frames.emplace_back(elapsed, level);
    }
  }
  ASSERT_GT(frames.size(), 20u) << result.err;
  EXPECT_TRUE(Contains(result.err, "KiB")) << "no file size";
  int mostChangesInASecond = 0;
  for (size_t first = 0; first < frames.size(); ++first) {
    int changes = 0;
    for (size_t i = first + 1; i < frames.size() && frames[i].first < frames[first].first + 1;
         ++i) {
      changes += frames[i].second != frames[i - 1].second;
    }
    mostChangesInASecond = std::max(mostChangesInASecond, changes);
  }
  EXPECT_GE(mostChangesInASecond, 10);
}

TEST(ToolRecording, SigintEndsTheRecordingWithAFinishedHeader) {
  const ScratchFolder scratch;
  const std::string wave = scratch.Path("interrupted.wav");
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
    const ScratchFolder scratch;
    const std::string wave = scratch.Path("ended.wav");
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
  const ScratchFolder scratch;
  const std::string wave = scratch.Path("timed.wav");
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

  const ScratchFolder folder_;
  const std::string wave_ = folder_.Path("silence.wav");
};

TEST_F(ToolSending, ExplainsAMissingFileAnAnswerPathAndWhatStandsBeforeTheService) {
  const ChildResult missing = RunChild({kTool, "send", folder_.Path("none.wav"), "--key", "K"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("(result code 1)"), std::string::npos) << missing.err;
  // Checked before anything is sent: nothing listens, so an upload would have failed with 5.
  const ChildResult unwritable = Send("K", {"--out", "/no/such/dir/x.json"});
  EXPECT_EQ(unwritable.exitCode, 4);
  EXPECT_EQ(
      unwritable.err,
      "quorel: cannot write the answer file /no/such/dir/x.json: No such file or directory\n");

  const std::string where = "localhost port " + kPort + " ";
  const ChildResult refused = Send("K");  // nothing listens on the test service's port
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Contains(refused.err, "(result code 5): " + where + "refused the connection"))
      << refused.err;
  EXPECT_EQ(ServiceProcess({"--init"}, QUOREL_TEST_SERVICE_STATE).Stop(), 0);  // the trusted one
  {
    ServiceProcess stranger({"--key", "K", "--port", kPort});  // an authority the tool distrusts
    ASSERT_TRUE(stranger.Running()) << stranger.Output();
    const ChildResult untrusted = Send("K");
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_TRUE(Contains(untrusted.err, where + "presents a certificate that is not trusted"))
        << untrusted.err;
    EXPECT_TRUE(Contains(untrusted.err, QUOREL_TEST_SERVICE_STATE "/authority.pem"));
  }
  // A label over 63 characters fails to resolve without asking any name server.
  const std::string unknownHost = std::string(70, 'x') + ".invalid";
  const std::string unresolvable = tool::DiagnoseUnreachable({unknownHost, 443, "", false});
  const std::string expected =
      "the host name " + unknownHost + " does not resolve (Name or service not known), port 443";
  EXPECT_EQ(unresolvable.substr(0, expected.size()), expected);  // a proxy note may follow
}

TEST_F(ToolSending, PrintsOrStoresTheAnswerAndExplainsARefusal) {
  ServiceProcess service({"--key", "K1", "--port", std::to_string(QUOREL_END_TO_END_SERVICE_PORT)},
                         QUOREL_TEST_SERVICE_STATE);
  ASSERT_TRUE(service.Running()) << service.Output();
  const ChildResult printed = Send("K1");
  EXPECT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_TRUE(nlohmann::json::parse(printed.out).contains("transcript")) << printed.out;

  const std::string answer = folder_.Path("answer.json");
  const ChildResult stored = Send("K1", {"--out", answer});
  EXPECT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_TRUE(nlohmann::json::parse(ReadFile(answer)).contains("transcript"));

  const ChildResult refused = Send("K2", {"--out", answer});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.err.find("403 unknown_key"), std::string::npos) << refused.err;
  EXPECT_EQ(nlohmann::json::parse(ReadFile(answer))["error"]["status"], 403);

  const ScratchFolder scratch;
  ChildProcess fromInput({"env", "TMPDIR=" + scratch.Root(), kTool, "send", "-", "--key", "K1"});
  fromInput.WriteInput(ReadFile(wave_));
  const ChildResult piped = fromInput.Finish();
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_TRUE(nlohmann::json::parse(piped.out).contains("transcript")) << piped.out;
  EXPECT_TRUE(IsEmptyFolder(scratch.Root()));

  // The private source is silent while nobody speaks: no transcript, as the help says.
  const ChildResult silent = RunChild({kTool, "listen", "--key", "K1", "--seconds", "3"});
  EXPECT_EQ(silent.exitCode, 3) << silent.out << silent.err;
  EXPECT_TRUE(Contains(silent.err, "quorel: no speech was heard")) << silent.err;
}

}  // namespace
}  // namespace quorel::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new quorel::test::SpokenInput);
  return RUN_ALL_TESTS();
}
