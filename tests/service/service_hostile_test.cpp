// The running service against malformed and hostile requests over real HTTPS on loopback: each
// gets its status and a JSON error, and the service keeps serving.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "service/error_answer.h"
#include "service/service_process.h"
#include "service/wave_builder.h"
#include "support/portable/file_bytes.h"
#include "support/portable/scratch_folder.h"

namespace quorel::test {
namespace {

constexpr size_t kBodyLimit = 200000;
// A request whose body never comes in whole.
const std::string kUnfinishedRequest = RequestHead(kGoodTarget, 100000) + "--T0\r\n";

class ServiceUnderAttack : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.Running()) << service_.Output(); }

  // Still alive and still answering properly after whatever the test did.
  void TearDown() override {
    EXPECT_TRUE(service_.Alive());
    const HttpAnswer answer = service_.Call(GoodCall());
    EXPECT_EQ(answer.status, 200) << answer.body;
  }

  // Checks the status and that the body is the JSON error for it; returns the error's code.
  static std::string ExpectError(const HttpAnswer& answer, long status) {
    EXPECT_EQ(answer.status, status) << answer.body;
    return ErrorCode(answer.body, status);
  }

  ServiceProcess service_{{"--key", "K1", "--key", "two words", "--max-body",
                           std::to_string(kBodyLimit), "--threads", "4"}};
};

TEST_F(ServiceUnderAttack, AnswersAWellFormedRequestWithATranscript) {
  const HttpAnswer answer = service_.Call(GoodCall(1.0));
  ASSERT_EQ(answer.status, 200) << answer.body;
  const auto json = nlohmann::json::parse(answer.body);
  EXPECT_TRUE(json.at("transcript").is_string());
  EXPECT_GE(json.at("confidence").get<double>(), 0.0);
  EXPECT_LE(json.at("confidence").get<double>(), 1.0);
  EXPECT_DOUBLE_EQ(json.at("duration_seconds").get<double>(), 1.0);
  // A key with a blank is matched in the form the library sends it.
  const HttpAnswer spaced = service_.Call(
      PostCall(MakeEnvelope(MakeWave("")), kRecognizeTarget + std::string("two%20words")));
  EXPECT_EQ(spaced.status, 200) << spaced.body;
  // A standard form upload, output and lang left to their defaults.
  HttpCall form = PostCall(MakeFormData(MakeWave(SilencePcm(1.0)), "----form-boundary-0123"),
                           "/speech-api/v2/recognize?key=K1");
  form.headers = {"Content-Type: multipart/form-data; boundary=\"----form-boundary-0123\""};
  const HttpAnswer formAnswer = service_.Call(form);
  ASSERT_EQ(formAnswer.status, 200) << formAnswer.body;
  EXPECT_EQ(nlohmann::json::parse(formAnswer.body), json);
}

TEST_F(ServiceUnderAttack, RefusesEachFaultWithItsStatusAndCode) {
  const std::string pcm = SilencePcm(0.1);
  const std::string wave = MakeWave(pcm);
  const std::string good = MakeEnvelope(wave, "T0");
  const std::string empty = MakeEnvelope(MakeWave(""));
  const std::string key = kRecognizeTarget;
  HttpCall oversized = PostCall(MakeEnvelope(MakeWave(SilencePcm(kBodyLimit / 32000.0 + 1))));
  HttpCall chunked = oversized;
  chunked.chunked = true;
  HttpCall get = PostCall("");
  get.method = "GET";
  HttpCall unbounded = PostCall(MakeFormData(MakeWave(""), "XYZ"));
  unbounded.headers = {"Content-Type: multipart/form-data"};
  HttpCall misbounded = unbounded;
  misbounded.headers = {"Content-Type: multipart/form-data; boundary=XY"};
  HttpCall octets = unbounded;
  octets.headers = {"Content-Type: application/octet-stream"};
  const HttpCall healthPost = PostCall("", "/healthz");
  const struct {
    HttpCall call;
    long status;
    const char* code;
  } kFaults[] = {
      {PostCall(""), 400, "malformed_envelope"},
      {PostCall(wave), 400, "malformed_envelope"},
      {PostCall("--T0"), 400, "malformed_envelope"},
      {PostCall(good.substr(0, 60)), 400, "malformed_envelope"},
      {PostCall(good.substr(0, good.size() - 10)), 400, "malformed_envelope"},
      {PostCall(good.substr(0, good.size() - 4) + "\r\n\r\n"), 400, "malformed_envelope"},
      {PostCall("--\r\n" + good.substr(4)), 400, "malformed_envelope"},
      {PostCall(empty, key), 401, "missing_key"},
      {PostCall(empty, "/speech-api/v2/recognize?output=json&lang=en-us"), 401, "missing_key"},
      {PostCall(empty, key + "K2"), 403, "unknown_key"},
      {PostCall(empty, key + "k1"), 403, "unknown_key"},
      {PostCall(empty, key + "K1%20"), 403, "unknown_key"},
      {PostCall(empty, key + "K"), 403, "unknown_key"},
      {PostCall(empty, key + "two+words"), 403, "unknown_key"},
      {PostCall(MakeEnvelope(MakeWave(pcm, {1, 2, 16000, 16}))), 415, "unsupported_audio"},
      {PostCall(MakeEnvelope(MakeWave(pcm, {1, 1, 8000, 16}))), 415, "unsupported_audio"},
      {PostCall(MakeEnvelope(MakeWave(pcm, {1, 1, 16000, 8}))), 415, "unsupported_audio"},
      {PostCall(MakeEnvelope(MakeWave(pcm, {3, 1, 16000, 32}))), 415, "unsupported_audio"},
      {PostCall(MakeEnvelope("ID3 not a wave at all")), 415, "unsupported_audio"},
      {PostCall(MakeEnvelope(MakeWave(pcm, {}, 1000))), 400, "malformed_audio"},
      {PostCall(MakeEnvelope(wave.substr(0, 100))), 400, "malformed_audio"},
      {oversized, 413, "body_too_large"},
      {chunked, 413, "body_too_large"},
      {PostCall(empty, "/speech-api/v1/recognize?key=K1"), 404, "not_found"},
      {PostCall(empty, "/speech-api/v2/recognize?output=xml&lang=en-us&key=K1"), 400,
       "malformed_query"},
      {get, 405, "method_not_allowed"},
      {healthPost, 405, "method_not_allowed"},
      {unbounded, 400, "malformed_envelope"},
      {misbounded, 400, "malformed_envelope"},
      {octets, 415, "unsupported_media_type"},
  };
  for (const auto& fault : kFaults) {
    EXPECT_EQ(ExpectError(service_.Call(fault.call), fault.status), fault.code)
        << fault.call.method << " " << fault.call.target << " " << fault.call.body.substr(0, 80);
  }
}

TEST_F(ServiceUnderAttack, OutlivesClientsThatHangUpOrSendGarbage) {
  for (const std::string& bytes :
       {kUnfinishedRequest, std::string(5000, '\x16') + "\r\n\r\n", std::string()}) {
    EXPECT_TRUE(RawTlsConnection(service_.Port(), service_.AuthorityFile()).Send(bytes));
  }
}

// Heads refused from the head alone: the answers come though no declared body ever does.
TEST_F(ServiceUnderAttack, RefusesBadHeadsAtOnce) {
  const std::string line = "POST " + kGoodTarget + " HTTP/1.1\r\n";
  const std::string host = "Host: localhost\r\n";
  const std::string type = "Content-Type: audio/l16\r\n";
  const std::string length = "Content-Length: 1000\r\n";
  const struct {
    std::string head;
    int status;
  } kHeads[] = {
      {line + host + type + length + "X-Filler: " + std::string(33 * 1024, 'a') + "\r\n", 431},
      // An empty body would be a malformed envelope: the key is checked first.
      {"POST " + std::string(kRecognizeTarget) + "wrong HTTP/1.1\r\n" + host + type +
           "Content-Length: 0\r\n",
       403},
      {line + host + type + "Content-Length: 12abc\r\n", 400},
      {line + host + type + length + length, 400},
      {line + host + type + length + "Content-Length: 2000\r\n", 400},
      {line + type + length, 400},
      {line + host + type + "Content-Length: 4294967296\r\n", 413},
  };
  for (const auto& [head, status] : kHeads) {
    RawTlsConnection connection(service_.Port(), service_.AuthorityFile());
    ASSERT_TRUE(connection.Send(head + "\r\n"));
    const std::string answer = connection.ReadToEnd();
    const size_t bodyAt = answer.find("\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + std::to_string(status)) << head.substr(0, 200);
    ErrorCode(bodyAt == std::string::npos ? "" : answer.substr(bodyAt + 4), status);
  }
}

TEST_F(ServiceUnderAttack, ServesManyRequestsAtOnce) {
  constexpr int kClients = 12;
  std::vector<HttpAnswer> answers(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      HttpCall call = GoodCall(0.5);
      if (i % 3 == 0) call.target = std::string(kRecognizeTarget) + "nope";
      answers[i] = service_.Call(call);
    });
  }
  for (std::thread& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(answers[i].status, i % 3 != 0 ? 200 : 403) << i << ": " << answers[i].body;
  }
}

TEST(ServiceLifetime, StopsCleanlyLoggingOneLinePerRequest) {
  ServiceProcess service({"--key", "K1"});
  ASSERT_TRUE(service.Running()) << service.Output();
  HttpCall call = GoodCall(0.1);
  EXPECT_EQ(service.Call(call).status, 200);
  call.target = std::string(kRecognizeTarget) + "wrong";
  EXPECT_EQ(service.Call(call).status, 403);
  // A client that does not trust the service, one that leaves mid-body, and one whose target
  // carries a terminal control and a key in another spelling.
  EXPECT_EQ(Call(service.Port(), "/etc/ssl/certs/ca-certificates.crt", call).status, 0);
  EXPECT_TRUE(RawTlsConnection(service.Port(), service.AuthorityFile()).Send(kUnfinishedRequest));
  RawTlsConnection faking(service.Port(), service.AuthorityFile());
  faking.Send(
      "GET /speech-api/v2/recognize?output=json&lang=en-us&\x9b"
      "2J;KEY=hidden HTTP/1.1\r\n"
      "Host: localhost\r\n\r\n");
  EXPECT_EQ(faking.ReadToEnd().substr(0, 12), "HTTP/1.1 405");
  // Health checks need no key and leave no line.
  HttpCall health;
  health.method = "GET";
  health.target = "/healthz";
  const HttpAnswer healthy = service.Call(health);
  EXPECT_EQ(healthy.status, 200);
  EXPECT_EQ(healthy.body, "{\"status\":\"ok\",\"version\":\"" QUOREL_VERSION "\"}\n");
  EXPECT_EQ(service.Stop(), 0);
  const std::string output = service.Output();
  EXPECT_EQ(output.find("/healthz"), std::string::npos) << output;
  EXPECT_NE(output.find(" 200 "), std::string::npos) << output;
  EXPECT_NE(output.find(" 403 "), std::string::npos) << output;
  EXPECT_NE(output.find("TLS handshake failed"), std::string::npos) << output;
  EXPECT_NE(output.find("(client left in the body)"), std::string::npos) << output;
  EXPECT_EQ(output.find(":-1 "), std::string::npos) << output;
  EXPECT_NE(output.find("&\\x9b2J;KEY=***"), std::string::npos) << output;
  EXPECT_EQ(output.find('\x9b'), std::string::npos) << "a control reached the log";
  EXPECT_EQ(output.find("wrong"), std::string::npos) << "the key reached the log";
  EXPECT_EQ(output.find("hidden"), std::string::npos) << "the key reached the log";
  EXPECT_NE(output.find("stopped"), std::string::npos) << output;
}

TEST(ServiceLifetime, MakesItsAuthorityOnceAndKeepsIt) {
  const ScratchFolder scratch;
  const std::string state = scratch.Path("nested/state");
  std::string firstAuthority;
  {
    ServiceProcess first({"--init"}, state);
    EXPECT_EQ(first.Stop(), 0);
    EXPECT_NE(first.Output().find("created the local authority: " + state + "/authority.pem"),
              std::string::npos)
        << first.Output();
    firstAuthority = ReadFile(state + "/authority.pem");
    EXPECT_NE(firstAuthority.find("BEGIN CERTIFICATE"), std::string::npos);
  }
  ServiceProcess second({"--key", "K1"}, state);
  ASSERT_TRUE(second.Running()) << second.Output();
  EXPECT_NE(second.Output().find("using the local authority"), std::string::npos);
  EXPECT_EQ(ReadFile(state + "/authority.pem"), firstAuthority);
  EXPECT_EQ(Call(second.Port(), state + "/authority.pem", GoodCall(0)).status, 200);
  EXPECT_EQ(second.Stop(SIGINT), 0);
  EXPECT_NE(second.Output().find("stopped"), std::string::npos);
}

// The README's curl command, its continued lines included.
std::string ReadmeCommand(const std::string& start) {
  std::istringstream readme(ReadFile(QUOREL_README_PATH));
  std::string command;
  for (std::string line; std::getline(readme, line);) {
    if (command.empty() && line.rfind(start, 0) != 0) continue;
    command += line + "\n";
    if (line.empty() || line.back() != '\\') break;
  }
  return command;
}

// The protocol section's example, run as it stands there: HOME holds the state folder it names,
// and curl's own configuration there points the README's port at this service's free one.
TEST(ServiceLifetime, AnswersTheReadmesCurlExampleAsWritten) {
  const ScratchFolder home;
  ServiceProcess service({"--key", "MY-KEY"}, home.Path(".local/state/quorel-service"));
  ASSERT_TRUE(service.Running()) << service.Output();
  WriteFile(home.Path(".curlrc"),
            "connect-to = localhost:8443:127.0.0.1:" + std::to_string(service.Port()) + "\n");
  WriteFile(home.Path("question.wav"), MakeWave(SilencePcm(1.5)));
  const std::string command = ReadmeCommand("curl --cacert ~/");
  ASSERT_NE(command.find("-F myfile=@question.wav"), std::string::npos) << command;
  const ChildResult curl =
      RunChild({"/usr/bin/env", "-i", "HOME=" + home.Root(), "PATH=/usr/bin:/bin", "/bin/bash",
                "-c", "cd \"$HOME\" && " + command});
  ASSERT_EQ(curl.exitCode, 0) << command << curl.err;
  const auto answer = nlohmann::json::parse(curl.out, nullptr, false);
  EXPECT_EQ(answer.value("transcript", "-"), "") << curl.out;
  EXPECT_DOUBLE_EQ(answer.value("duration_seconds", 0.0), 1.5) << curl.out;
}

// Each address given is served, IPv4 and IPv6 alike, and a certificate given is served in place
// of the state folder's own (here another service's localhost certificate).
TEST(ServiceLifetime, ListensOnEveryAddressGivenWithTheCertificateGiven) {
  const ScratchFolder scratch;
  const std::string issuing = scratch.Path("issuing");
  ServiceProcess(std::vector<std::string>{"--init"}, issuing).Stop();
  ServiceProcess service(
      {"--key", "K1", "--listen", "127.0.0.1:0", "--listen", "[::1]:0", "--certificate",
       issuing + "/localhost.pem", "--private-key", issuing + "/localhost-key.pem"},
      scratch.Path("state"));
  ASSERT_TRUE(service.Running()) << service.Output();
  const std::string output = service.Output();
  const size_t v6 = output.find("listening on https://[::1]:");
  ASSERT_NE(v6, std::string::npos) << output;
  const int v6Port = std::atoi(output.c_str() + v6 + 27);
  for (const auto& [host, port] : {std::pair<std::string, int>{"127.0.0.1", service.Port()},
                                   {"[::1]", v6Port},
                                   {"localhost", service.Port()}}) {
    HttpCall call = GoodCall();
    call.host = host;
    EXPECT_EQ(Call(port, issuing + "/authority.pem", call).status, 200) << host;
  }
  EXPECT_FALSE(FileExists(scratch.Path("state/authority.pem")));
}

// Each refusal ends the start with its exit status and message, and nothing of the recogniser's
// own: neither its log nor text its lexer echoes (the stray "~" appears once, in the message).
// A sanitizer's report may follow on stderr.
TEST(ServiceLifetime, RefusesToStartWithItsReason) {
  const ScratchFolder scratch;
  const std::string& folder = scratch.Root();
  const std::string firstState = scratch.Path("first");
  ServiceProcess first({"--key", "K1"}, firstState);
  ASSERT_TRUE(first.Running()) << first.Output();
  const std::string missing = scratch.Path("missing.pem");
  // Where the key's file would be written stands a folder.
  const std::string blocked = scratch.Path("blocked");
  mkdir(blocked.c_str(), 0700);
  mkdir((blocked + "/localhost-key.pem.new").c_str(), 0700);
  const std::string open = scratch.Path("open");
  mkdir(open.c_str(), 0700);
  chmod(open.c_str(), 0755);
  const struct {
    const char* grammar;  // "": none; else a grammar file (nullptr: missing) whose path replaces %
    std::vector<std::string> arguments;
    std::string state;
    int exitCode;
    std::string message;
  } kRefusals[] = {
      {"", {"--key", "K2", "--port", std::to_string(first.Port())}, "", 1, "the port is taken"},
      {"",
       {"--key", "K2", "--listen", "[::1]:0", "--listen",
        "127.0.0.1:" + std::to_string(first.Port())},
       "",
       1,
       "cannot listen on 127.0.0.1:" + std::to_string(first.Port()) + ": the port is taken"},
      {"",
       {"--key", "K2"},
       firstState,
       1,
       "the state folder " + firstState + " is in use by another quorel-service (process " +
           std::to_string(first.Pid()) + ")"},
      {"",
       {"--key", "K1", "--certificate", missing, "--private-key", missing},
       "",
       1,
       "the TLS certificate " + missing + " or its key " + missing + " cannot be used"},
      {"",
       {"--key", "K1"},
       blocked,
       1,
       "cannot create the certificates in " + blocked + ": cannot write " + blocked +
           "/localhost-key.pem: Is a directory"},
      {"", {"--key", "K1", "--certificate", missing}, "", 2, "go together"},
      {"", {"--key", "K1", "--listen", "localhost:8443"}, "", 2, "--listen takes a numeric"},
      {"", {"--key", "K1", "--listen", "::1:8443"}, "", 2, "--listen takes a numeric"},
      {"", {"--key", "K1", "--listen", "127.0.0.1:1", "--port", "2"}, "", 2, "not both"},
      {"", {"--key", "K1"}, open, 1, "chmod 700 " + open},
      {"", {}, "", 2, "no access key given"},
      {"", {"--key", ""}, "", 2, "--key takes a key that is not empty"},
      {nullptr,
       {},
       "",
       1,
       "quorel-service: cannot read the grammar file %: No such file or directory"},
      {"#JSGF V1.0;\ngrammar g;\npublic <x> = ( turn on ;\n",
       {},
       "",
       1,
       "quorel-service: the grammar % has a syntax error at line 3 near ';'"},
      {"#JSGF V1.0;\ngrammar g;\npublic <x> = turn on;\n~\n",
       {},
       "",
       1,
       "quorel-service: the grammar % holds text that is not JSGF: ~"},
      {"#JSGF V1.0;\ngrammar g;\npublic <x> = turn on the zqxblort;\n",
       {},
       "",
       1,
       "quorel-service: the grammar % uses the word 'zqxblort', which is not in the dictionary "},
  };
  int grammars = 0;
  for (const auto& refusal : kRefusals) {
    std::vector<std::string> arguments = refusal.arguments;
    std::string message = refusal.message;
    if (refusal.grammar == nullptr || refusal.grammar[0] != 0) {
      const std::string path = folder + "/" + std::to_string(++grammars) + ".gram";
      if (refusal.grammar != nullptr) std::ofstream(path) << refusal.grammar;
      arguments = {"--key", "K1", "--grammar", path};
      message.replace(message.find('%'), 1, path);
    }
    ServiceProcess refused(arguments, refusal.state);
    EXPECT_FALSE(refused.Running());
    EXPECT_EQ(refused.Stop(), refusal.exitCode);
    const std::string output = refused.Output();
    EXPECT_NE(output.find(message), std::string::npos) << output;
    EXPECT_EQ(output.find("ERROR: \""), std::string::npos) << output;
    EXPECT_EQ(output.find("INFO: "), std::string::npos) << output;
    EXPECT_LE(std::count(output.begin(), output.end(), '~'), 1) << output;
  }
}

}  // namespace
}  // namespace quorel::test
