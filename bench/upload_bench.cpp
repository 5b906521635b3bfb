// The upload against the curl tool: both send the same body (envelope head, file, tail) with
// the same header lines over HTTP/1.1 and TLS, trusting the same CA, to the same test server,
// in alternating runs. Each run is a process of its own, measured by the kernel.
// A third case runs both through a relay that holds each direction 10 ms, as if the service
// were 20 ms away, and shows the round trips each spends before its body.
// Usage: quorel_bench_uploading SERVER_PROGRAM RELAY_PROGRAM UPLOAD_DRIVER FOLDER [RUNS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "measured_process.h"
#include "platform/clock.h"
#include "upload/request_texts.h"

namespace {

using quorel::bench::Median;
using quorel::bench::ProcessCost;
using quorel::bench::RunMeasured;

void WritePattern(const std::string& path, size_t size) {
  std::ofstream file(path, std::ios::binary);
  std::string block(1 << 16, 0);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 3);
  for (size_t left = size; left > 0;) {
    const size_t piece = left < block.size() ? left : block.size();
    file.write(block.data(), static_cast<std::streamsize>(piece));
    left -= piece;
  }
}

// What the library would put on the wire for the file: the body file for curl, and the header
// lines (those with a field name; curl can send no other) as -H arguments.
std::vector<std::string> PrepareCurlRequest(const std::string& audio, size_t size,
                                            const std::string& body) {
  quorel::BoundaryToken token;
  quorel::MakeBoundaryToken(quorel::CurrentLocalTime(), token);
  quorel::EnvelopeBytes head;
  quorel::EnvelopeBytes tail;
  quorel::MakeEnvelope(token, head, tail);
  uint32_t length = 0;
  quorel::ContentLength(head.length, static_cast<int64_t>(size), tail.length, length);
  quorel::HeaderBlock block;
  quorel::MakeHeaderBlock(u"localhost", length, token, block);
  {
    std::ofstream out(body, std::ios::binary);
    out.write(head.bytes, head.length);
    out << std::ifstream(audio, std::ios::binary).rdbuf();
    out.write(tail.bytes, tail.length);
  }
  std::vector<std::string> headers;
  std::istringstream lines(block.Bytes());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(':') == std::string::npos) continue;
    headers.push_back("-H");
    headers.push_back(line);
  }
  return headers;
}

struct Listener {
  pid_t pid = -1;
  std::string port;
};

// Starts a program that prints "port N" once it listens.
Listener StartListener(const std::vector<std::string>& command) {
  int output[2];
  Listener listener;
  if (pipe(output) != 0) return listener;
  listener.pid = fork();
  if (listener.pid == 0) {
    dup2(output[1], STDOUT_FILENO);
    close(output[0]);
    close(output[1]);
    std::vector<char*> arguments;
    for (const std::string& argument : command)
      arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    execv(arguments[0], arguments.data());
    _exit(127);
  }
  close(output[1]);
  std::string line;
  char unit;
  while (read(output[0], &unit, 1) == 1 && unit != '\n') line += unit;
  close(output[0]);
  if (line.rfind("port ", 0) == 0) listener.port = line.substr(5);
  return listener;
}

void Stop(const Listener& listener) {
  if (listener.pid <= 0) return;
  kill(listener.pid, SIGTERM);
  waitpid(listener.pid, nullptr, 0);
}

struct Peer {
  std::vector<double> wall, cpu, peak;
  void Add(const ProcessCost& cost) {
    wall.push_back(cost.wallSeconds * 1000);
    cpu.push_back(cost.cpuSeconds * 1000);
    peak.push_back(cost.peakMegabytes);
  }
};

struct Case {
  const char* name;
  size_t size;
  bool far;  // through the relay that holds each direction kRelayDelayMs
};

constexpr int kRelayDelayMs = 10;

struct Programs {
  std::string server, relay, driver;
  std::string caFile, certificate, key;
  std::string folder, relayLog;
};

// The server keeps every request it has read, and copies them as it waits for the next, so
// each run gets a server (and a relay) of its own: a run never waits on its predecessors' 64 MB.
struct Service {
  explicit Service(const Programs& programs, bool far)
      : server(StartListener(
            {programs.server, "--certificate", programs.certificate, "--key", programs.key})),
        relayLog(programs.relayLog),
        linesBefore(far ? LoggedFlights() : 0) {
    if (far && !server.port.empty()) {
      relay = StartListener(
          {programs.relay, server.port, std::to_string(kRelayDelayMs), programs.relayLog});
    }
    port = far ? relay.port : server.port;
  }
  ~Service() {
    // The relay logs a connection once the client has closed it, a moment after the run.
    for (int tries = 0; relay.pid > 0 && tries < 200 && LoggedFlights() == linesBefore; ++tries) {
      usleep(10000);
    }
    Stop(relay);
    Stop(server);
  }
  size_t LoggedFlights() const {
    std::ifstream log(relayLog);
    size_t lines = 0;
    for (std::string line; std::getline(log, line);) ++lines;
    return lines;
  }
  Listener server, relay;
  std::string port;
  const std::string relayLog;
  const size_t linesBefore;
};

std::vector<std::string> CurlCommand(const Programs& programs, const std::string& port,
                                     const std::vector<std::string>& headers,
                                     const std::string& body) {
  // Like the library, curl sends the body at once instead of waiting for an interim answer.
  std::vector<std::string> curl = {
      "curl",          "-sS",          "--fail-with-body",
      "--http1.1",     "--cacert",     programs.caFile,
      "--capath",      "/nonexistent", "--expect100-timeout",
      "0.001",         "-o",           programs.folder + "/curl-answer.json",
      "--data-binary", "@" + body};
  curl.insert(curl.end(), headers.begin(), headers.end());
  curl.push_back("https://localhost:" + port +
                 "/speech-api/v2/recognize?output=json&lang=en-us&key=KEY");
  return curl;
}

// One case in alternating runs (library first, then curl first, ...); false when a run failed.
bool Compare(const Case& test, const Programs& programs, int runs) {
  const std::string audio = programs.folder + "/audio.wav";
  const std::string body = programs.folder + "/body.bin";
  WritePattern(audio, test.size);
  const std::vector<std::string> headers = PrepareCurlRequest(audio, test.size, body);
  Peer ours, theirs;
  for (int i = 0; i < runs; ++i) {
    for (int turn = 0; turn < 2; ++turn) {
      const Service service(programs, test.far);
      if (service.port.empty()) return false;
      const bool libraryTurn = (i + turn) % 2 == 0;
      const std::vector<std::string> command =
          libraryTurn
              ? std::vector<std::string>{programs.driver, audio, programs.folder + "/answer.json",
                                         service.port, programs.caFile}
              : CurlCommand(programs, service.port, headers, body);
      ProcessCost cost;
      std::string output;
      if (!RunMeasured(command, cost, &output)) return false;
      (libraryTurn ? ours : theirs).Add(cost);
    }
  }
  std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f |\n", test.name,
              Median(ours.wall), Median(theirs.wall), Median(ours.wall) / Median(theirs.wall),
              Median(ours.cpu), Median(theirs.cpu), Median(ours.peak), Median(theirs.peak));
  return true;
}

// The relays log one line of flights per connection, in the order the runs went.
void PrintFlights(const std::string& logPath) {
  std::ifstream log(logPath);
  std::string library, curl;
  std::getline(log, library);
  std::getline(log, curl);
  std::printf(
      "\nFlights through the relay, first run of each (C: to the service, S: back; bytes @ ms "
      "after the connection was accepted):\n- library: %s\n- curl:    %s\n",
      library.c_str(), curl.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SERVER_PROGRAM RELAY_PROGRAM UPLOAD_DRIVER FOLDER [RUNS]\n",
                 argv[0]);
    return 2;
  }
  Programs programs;
  programs.server = argv[1];
  programs.relay = argv[2];
  programs.driver = argv[3];
  programs.folder = argv[4];
  programs.relayLog = programs.folder + "/relay-flights.txt";
  const int runs = argc > 5 ? std::atoi(argv[5]) : 5;

  std::string made;
  ProcessCost ignored;
  if (!RunMeasured({programs.server, "--make-certificates", programs.folder}, ignored, &made)) {
    return 1;
  }
  std::string word;
  std::istringstream listing(made);
  while (listing >> word) {
    if (word == "ca") listing >> programs.caFile;
    if (word == "localhost") listing >> programs.certificate >> programs.key;
  }

  std::printf(
      "| upload | library ms | curl ms | time ratio | library CPU ms | curl CPU ms "
      "| library peak MB | curl peak MB |\n|---|---|---|---|---|---|---|---|\n");
  const Case cases[] = {{"3 s WAV (96 kB)", 44 + 96000, false},
                        {"64 MB", size_t{64} << 20, false},
                        {"3 s WAV (96 kB), service 20 ms away", 44 + 96000, true}};
  bool ok = true;
  for (const Case& test : cases) {
    if (ok) ok = Compare(test, programs, runs);
  }
  if (ok) PrintFlights(programs.relayLog);
  if (!ok) std::fprintf(stderr, "a program could not start or an upload failed\n");
  return ok ? 0 : 1;
}
