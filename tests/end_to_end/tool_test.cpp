// The quorel tool as a user runs it: exit codes, messages, recordings ended every way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "support/portable/wave_checks.h"
#include "support/tls/tls_test_server.h"

namespace quorel::test {
namespace {

const std::string kTool = QUOREL_TOOL_UNDER_TEST;
const std::string kPort = std::to_string(QUOREL_END_TO_END_SERVICE_PORT);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The tool failed with exitCode and said part on its standard error.
void ExpectFailure(const ChildResult& result, int exitCode, const std::string& part) {
  EXPECT_EQ(result.exitCode, exitCode) << result.err;
  EXPECT_TRUE(Contains(result.err, part)) << result.err;
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

TEST(ToolMessages, NameEveryResultCodeInPlainWordsWithTheCode) {
  using Describe = std::string (*)(int32_t);
  const std::vector<std::pair<Describe, std::vector<int32_t>>> families{
      {tool::DescribeStartResult,
       {QUOREL_SUCCESS, QUOREL_START_INPUT_OPEN_FAILED, QUOREL_START_BUFFER_QUEUE_FAILED,
        QUOREL_START_CAPTURE_FAILED, QUOREL_START_FILE_CREATE_FAILED,
        QUOREL_START_ALREADY_RECORDING}},
      {tool::DescribeSpeechResult,
       {QUOREL_SUCCESS, QUOREL_SPEECH_AUDIO_OPEN_FAILED, QUOREL_SPEECH_SESSION_FAILED,
        QUOREL_SPEECH_CONNECTION_FAILED, QUOREL_SPEECH_REQUEST_FAILED, QUOREL_SPEECH_BEGIN_FAILED,
        QUOREL_SPEECH_HEAD_SEND_FAILED, QUOREL_SPEECH_AUDIO_READ_FAILED,
        QUOREL_SPEECH_AUDIO_SEND_FAILED, QUOREL_SPEECH_TAIL_SEND_FAILED, QUOREL_SPEECH_NO_ANSWER,
        QUOREL_SPEECH_RESPONSE_WRITE_FAILED}}};
  std::set<std::string> messages;
  for (const auto& [describe, codes] : families) {
    for (const int32_t code : codes) {
      const std::string message = describe(code);
      EXPECT_TRUE(Contains(message, "(result code " + std::to_string(code) + ")")) << message;
      EXPECT_TRUE(messages.insert(message).second) << message;
    }
  }
  EXPECT_TRUE(Contains(tool::DescribeSpeechResult(6), "unknown"));
}

TEST(ToolCommandLine, AnswersHelpVersionAndWrongUsage) {
  const ChildResult help = RunChild({kTool, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  // The README's table of exit statuses holds every line of the help's, word for word.
  const std::string readme = ReadFile(QUOREL_README);
  int statuses = 0;
  for (size_t at = help.out.find("\n  "); at != std::string::npos;
       at = help.out.find("\n  ", at + 1)) {
    int status = -1, textAt = 0;
    if (std::sscanf(help.out.c_str() + at, "\n  %d  %n", &status, &textAt) != 1 || textAt == 0) {
      continue;
    }
    const size_t end = help.out.find('\n', at + textAt);
    const std::string row = "| " + std::to_string(status) + " | " +
                            help.out.substr(at + textAt, end - at - textAt) + " |";
    EXPECT_TRUE(Contains(readme, row)) << row;
    ++statuses;
  }
  EXPECT_EQ(statuses, 6) << help.out;
  const ChildResult version = RunChild({kTool, "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "quorel " QUOREL_VERSION_TEXT "\nservice: https://localhost:" + kPort +
                             "/\ntrust store: " QUOREL_TEST_SERVICE_STATE "/authority.pem\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong{
      {{}, "no command given"},
      {{"transcribe"}, "unknown command transcribe"},
      {{"record"}, "record takes one file name"},
      {{"record", "a.wav", "b.wav"}, "record takes one file name"},
      {{"record", "a.wav", "--seconds", "soon"}, "--seconds takes a positive number"},
      {{"record", "a.wav", "--seconds", "-1"}, "--seconds takes a positive number"},
      {{"record", "a.wav", "--key", "K"}, "record does not take --key"},
      {{"record", "a.wav", "-o", "a.json"}, "record does not take --out"},
      {{"send", "a.wav", "--seconds", "2"}, "send does not take --seconds"},
      {{"send", "a.wav", "--key", "K", "--wav", "b.wav"}, "send does not take --wav"},
      {{"send", "a.wav"}, "no access key"},
      {{"send", "a.wav", "--key"}, "option --key needs a value"},
      {{"listen", "a.wav", "--key", "K"}, "listen takes no file name"},
      {{"send", "a.wav", "--key", "K", "--bogus"}, "unknown option --bogus"}};
  for (const auto& [arguments, problem] : wrong) {
    std::vector<std::string> command{"env", "-u", "QUOREL_KEY", kTool};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ExpectFailure(RunChild(command), 2, "quorel: " + problem);
  }
}

// record - would fill a terminal with binary: refused before anything is recorded.
TEST(ToolCommandLine, RecordDashRefusesATerminalAsStandardOutput) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(screen, 0);
  ChildProcess tool({kTool, "record", "-", "--seconds", "1"}, false, screen);
  ExpectFailure(tool.Finish(), 2, "which is a terminal");
  close(screen);
  close(terminal);
}

TEST(ToolRecording, ExplainsAFailedStartAndLeavesNoFileBehind) {
  ExpectFailure(RunChild({kTool, "record", "/nonexistent-folder/x.wav"}), 4,
                "cannot write the recording file /nonexistent-folder/x.wav: No such file");
  // With its sound server out of reach, the default input cannot be opened.
  const ScratchFolder scratch;
  const std::string wave = scratch.Path("never.wav");
  ExpectFailure(RunChild({"env", "PULSE_SERVER=unix:/nonexistent", kTool, "record", wave}), 1,
                "(result code 1)");
  EXPECT_FALSE(FileExists(wave)) << "the empty WAV was left behind";
}

TEST(ToolRecording, DashWritesTheFinishedWaveToStandardOutput) {
  const ScratchFolder toolTemporary, scratch;
  const ChildResult result =
      RunChild({"env", "TMPDIR=" + toolTemporary.Root(), kTool, "record", "-", "--seconds", "3"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string wave = scratch.Path("from-stdout.wav");
  WriteFile(wave, result.out);
  const uint32_t dataBytes = ExpectFinishedWave(wave);
  EXPECT_GT(dataBytes, 0u);
  EXPECT_TRUE(Contains(result.err, ReportedBytes(dataBytes) + " (")) << result.err;
  EXPECT_TRUE(std::filesystem::is_empty(toolTemporary.Root()));
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

// However it ends once a second of audio has reached the file, the recording leaves a finished
// header, the tool reports its size and, off a terminal, draws no meter.
TEST(ToolRecording, SigintSigtermEnterAndItsSecondsEachEndItWithAFinishedHeader) {
  struct Ending {
    const char* name;
    std::vector<std::string> extra;
    void (*end)(ChildProcess&);
  };
  for (const Ending& ending :
       std::vector<Ending>{{"SIGINT", {}, [](ChildProcess& tool) { tool.Signal(SIGINT); }},
                           {"SIGTERM", {}, [](ChildProcess& tool) { tool.Signal(SIGTERM); }},
                           {"Enter", {}, [](ChildProcess& tool) { tool.WriteInput("\n"); }},
                           {"--seconds", {"--seconds", "3.25"}, [](ChildProcess&) {}}}) {
    SCOPED_TRACE(ending.name);
    const ScratchFolder scratch;
    const std::string wave = scratch.Path("ended.wav");
    std::vector<std::string> arguments{kTool, "record", wave};
    arguments.insert(arguments.end(), ending.extra.begin(), ending.extra.end());
    ChildProcess tool(arguments);
    struct stat info {};
    while (tool.Running() && (stat(wave.c_str(), &info) != 0 || info.st_size < 44 + 32000)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ending.end(tool);
    const ChildResult result = tool.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const uint32_t dataBytes = ExpectFinishedWave(wave);
    EXPECT_GE(dataBytes, 32000u);
    if (!ending.extra.empty()) {
      EXPECT_EQ(dataBytes, 104000u) << "--seconds is exact to a sample";
    }
    EXPECT_TRUE(Contains(result.out, ReportedBytes(dataBytes))) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

class ToolSending : public testing::Test {
 protected:
  void SetUp() override { WriteFile(wave_, MakeWave(SilencePcm(0.5))); }

  ChildResult Send(const std::string& key, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{kTool, "send", wave_, "--key", key};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunChild(arguments);
  }

  const ScratchFolder folder_;
  const std::string wave_ = folder_.Path("silence.wav");
};

TEST_F(ToolSending, ExplainsAMissingFileAnAnswerPathAndWhatStandsBeforeTheService) {
  // Files are checked before anything is recorded or sent (nothing listens, so an upload would
  // have failed with 5), each with the system's reason and the same status.
  const std::vector<std::pair<std::vector<std::string>, std::string>> unusable{
      {{"send", folder_.Path("none.wav")},
       "cannot read the audio file " + folder_.Path("none.wav") + ": No such file or directory"},
      {{"send", folder_.Root()},
       "cannot read the audio file " + folder_.Root() + ": Is a directory"},
      {{"send", wave_, "--out", "/no/such/dir/x.json"},
       "cannot write the answer file /no/such/dir/x.json: No such file or directory"},
      {{"listen", "--out", "/no/such/dir/x.json"},
       "cannot write the answer file /no/such/dir/x.json: No such file or directory"},
      {{"listen", "--wav", "/no/such/dir/x.wav"},
       "cannot write the recording file /no/such/dir/x.wav: No such file or directory"}};
  for (const auto& [arguments, problem] : unusable) {
    std::vector<std::string> command{kTool};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.insert(command.end(), {"--key", "K"});
    const ChildResult result = RunChild(command);
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.err, "quorel: " + problem + "\n");
  }

  const std::string where = "localhost port " + kPort + " ";
  // Nothing listens on the test service's port: listen finds out before it records.
  ExpectFailure(Send("K"), 1, "(result code 5): " + where + "refused the connection");
  const std::string kept = folder_.Path("kept.wav");
  ExpectFailure(RunChild({kTool, "listen", "--key", "K", "--wav", kept}), 1,
                "quorel: the service cannot be reached: " + where + "refused the connection");
  EXPECT_FALSE(FileExists(kept));
  EXPECT_EQ(ServiceProcess({"--init"}, QUOREL_TEST_SERVICE_STATE).Stop(), 0);  // the trusted one
  {
    ServiceProcess stranger({"--key", "K", "--port", kPort});  // an authority the tool distrusts
    ASSERT_TRUE(stranger.Running()) << stranger.Output();
    const ChildResult untrusted = Send("K");
    ExpectFailure(untrusted, 1, where + "presents a certificate that is not trusted");
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
  ServiceProcess service({"--key", "K1", "--port", kPort}, QUOREL_TEST_SERVICE_STATE);
  ASSERT_TRUE(service.Running()) << service.Output();
  const ChildResult printed = Send("K1");
  EXPECT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_TRUE(nlohmann::json::parse(printed.out).contains("transcript")) << printed.out;

  const std::string answer = folder_.Path("answer.json");
  const ChildResult stored = Send("K1", {"--out", answer});
  EXPECT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_TRUE(nlohmann::json::parse(ReadFile(answer)).contains("transcript"));

  ExpectFailure(Send("K2", {"--out", answer}), 3, "the service refused the audio: 403 unknown_key");
  EXPECT_EQ(nlohmann::json::parse(ReadFile(answer))["error"]["status"], 403);

  // A proxy that cannot reach the service is named with the setting that goes around it.
  const ChildResult proxied =
      RunChild({"env", "https_proxy=http://127.0.0.1:9", kTool, "send", wave_, "--key", "K1"});
  ExpectFailure(proxied, 1, "the proxy http://127.0.0.1:9 (set in https_proxy)");
  EXPECT_TRUE(Contains(proxied.err, "to go direct, set no_proxy=localhost")) << proxied.err;
  EXPECT_EQ(RunChild({"env", "https_proxy=http://127.0.0.1:9", "no_proxy=example.org,localhost",
                      kTool, "send", wave_, "--key", "K1"})
                .exitCode,
            0);

  const ScratchFolder scratch;
  ChildProcess fromInput({"env", "TMPDIR=" + scratch.Root(), kTool, "send", "-", "--key", "K1"});
  fromInput.WriteInput(ReadFile(wave_));
  const ChildResult piped = fromInput.Finish();
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_TRUE(nlohmann::json::parse(piped.out).contains("transcript")) << piped.out;
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Root()));

  // The private source is silent while nobody speaks: no transcript, as the help says.
  ExpectFailure(RunChild({kTool, "listen", "--key", "K1", "--seconds", "3"}), 5,
                "quorel: no speech was heard");
}

// A server (with the service's certificate) that answers before the body is in and reads no
// more: the upload ends with the code of the step cut short, the answer stored all the same, and
// the tool gives the answer's status and reason and keeps it in --out. One that never answers
// leaves --out as an earlier run left it, never read as this run's answer.
TEST_F(ToolSending, GivesTheReasonOfAnAnswerThatCameBeforeTheBodyWasIn) {
  WriteFile(wave_, MakeWave(SilencePcm(60)));
  EXPECT_EQ(ServiceProcess({"--init"}, QUOREL_TEST_SERVICE_STATE).Stop(), 0);
  TlsServerOptions options{QUOREL_TEST_SERVICE_STATE "/localhost.pem",
                           QUOREL_TEST_SERVICE_STATE "/localhost-key.pem",
                           QUOREL_END_TO_END_SERVICE_PORT, Misbehaviour::kEarlyAnswer, 65536};
  options.receiveBufferBytes = 16384;  // so that the body cannot go out whole into buffers
  options.answerStatus = "413 Payload Too Large";
  options.answerBody = R"({"error":{"status":413,"code":"body_too_large","message":"too long"}})";
  const std::string answer = folder_.Path("answer.json");
  {
    const TlsTestServer server(options);
    // Whether the body was cut (8) or went whole while the answer waited (999) is the race
    // of the two; the reason is given either way.
    ExpectFailure(Send("K", {"--out", answer}), 3,
                  "quorel: the service refused the audio: 413 body_too_large: too long");
  }
  EXPECT_EQ(ReadFile(answer), options.answerBody);
  options.misbehaviour = Misbehaviour::kNoAnswer;
  const TlsTestServer silent(options);
  ExpectFailure(Send("K", {"--out", answer}), 1, "(result code 10)");
  EXPECT_EQ(ReadFile(answer), options.answerBody);
}

// Interrupted while it waits for the service, send ends by the signal and leaves no file behind.
TEST_F(ToolSending, SigintAndSigtermLeaveNoTemporaryFile) {
  EXPECT_EQ(ServiceProcess({"--init"}, QUOREL_TEST_SERVICE_STATE).Stop(), 0);
  const TlsTestServer server({QUOREL_TEST_SERVICE_STATE "/localhost.pem",
                              QUOREL_TEST_SERVICE_STATE "/localhost-key.pem",
                              QUOREL_END_TO_END_SERVICE_PORT, Misbehaviour::kStallHandshake});
  for (const int signal : {SIGINT, SIGTERM}) {
    const ScratchFolder temporary;
    ChildProcess tool({"env", "TMPDIR=" + temporary.Root(), kTool, "send", "-", "--key", "K"});
    tool.WriteInput(ReadFile(wave_));
    tool.CloseInput();
    const size_t before = server.ConnectionCount();
    while (tool.Running() && server.ConnectionCount() == before) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    tool.Signal(signal);
    EXPECT_EQ(tool.Finish().exitCode, -1) << "not ended by signal " << signal;
    EXPECT_TRUE(std::filesystem::is_empty(temporary.Root()));
  }
}

}  // namespace
}  // namespace quorel::test
