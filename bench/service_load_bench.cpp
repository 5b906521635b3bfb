// quorel-service under slow, idle, flooding and many clients, all on loopback against a service
// of its own on a free port. Every phase runs a fixed number of requests or seconds.
//   quorel_bench_service_load [ROUNDS]   (good requests per latency phase, default 20)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/https_client.h"
#include "service/service_process.h"
#include "service/wave_builder.h"

namespace {

using namespace quorel::test;
using Clock = std::chrono::steady_clock;

constexpr int kDecoders = 2;
constexpr int kSlowClients = 100;  // of each kind: slow header, slow body, idle
constexpr int kFloodClients = 4;   // endless header lines
constexpr int kConcurrent = 64;    // good requests at once
constexpr int kStopClients = 40;   // sending good requests in a loop across a SIGTERM
const std::string kTarget = std::string(kRecognizeTarget) + "K1";

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()))];
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

struct Service {
  ServiceProcess process{{"--key", "K1", "--threads", std::to_string(kDecoders)}};
  HttpCall GoodCall() const {
    HttpCall call;
    call.target = kTarget;
    call.body = MakeEnvelope(MakeWave(SilencePcm(1.0)));
    return call;
  }
  HttpAnswer Good() const { return Call(process.Port(), process.AuthorityFile(), GoodCall()); }
};

// Median of rounds sequential good requests, in milliseconds; -1 if one failed.
double MedianGoodLatency(const Service& service, int rounds) {
  std::vector<double> latencies;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (service.Good().status != 200) return -1;
    latencies.push_back(Milliseconds(Clock::now() - start));
  }
  return Percentile(latencies, 0.5);
}

int OpenIdleTcp(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Holds the slow and idle clients open, a byte a second each, reopening those the service closes.
class SlowClients {
 public:
  explicit SlowClients(const Service& service) : service_(service) {
    feeder_ = std::thread([this] { Feed(); });
  }
  ~SlowClients() {
    running_ = false;
    feeder_.join();
    for (const int fd : idle_) close(fd);
  }
  int Reopened() const { return reopened_; }

 private:
  std::unique_ptr<RawTlsConnection> Open(bool body) {
    auto connection = std::make_unique<RawTlsConnection>(service_.process.Port(),
                                                         service_.process.AuthorityFile());
    std::string head = "POST " + kTarget + " HTTP/1.1\r\n";
    if (body)
      head += "Host: localhost\r\nContent-Type: audio/l16\r\nContent-Length: 100000\r\n\r\n";
    connection->Send(head);
    return connection;
  }

  void Feed() {
    std::vector<std::unique_ptr<RawTlsConnection>> headers, bodies;
    for (int i = 0; i < kSlowClients && running_; ++i) {
      headers.push_back(Open(false));
      bodies.push_back(Open(true));
      idle_.push_back(OpenIdleTcp(service_.process.Port()));
    }
    while (running_) {
      for (int i = 0; i < kSlowClients; ++i) {
        if (!headers[i]->Send("X")) headers[i] = Open(false), ++reopened_;
        if (!bodies[i]->Send("-")) bodies[i] = Open(true), ++reopened_;
        char probe;
        if (recv(idle_[i], &probe, 1, MSG_DONTWAIT) == 0) {
          close(idle_[i]);
          idle_[i] = OpenIdleTcp(service_.process.Port());
          ++reopened_;
        }
      }
      for (int tick = 0; tick < 10 && running_; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }

  const Service& service_;
  std::atomic<bool> running_{true};
  std::atomic<int> reopened_{0};
  std::vector<int> idle_;
  std::thread feeder_;
};

void SlowClientPhase(int rounds) {
  Service service;
  const double idle = MedianGoodLatency(service, rounds);
  double loaded = -1;
  int reopened = 0;
  {
    SlowClients slow(service);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // all open and trickling
    loaded = MedianGoodLatency(service, rounds);
    // On through the service's deadlines, so that closed clients come back.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const double later = MedianGoodLatency(service, rounds);
    loaded = std::max(loaded, later);
    reopened = slow.Reopened();
  }
  std::printf("| good request, idle service (median of %d) | %.1f ms |\n", rounds, idle);
  std::printf(
      "| good request beside %d slow-header, %d slow-body, %d idle (worst median) | "
      "%.1f ms (%.2f x idle; %d clients closed by the service and reopened) |\n",
      kSlowClients, kSlowClients, kSlowClients, loaded, loaded / idle, reopened);
}

void FloodPhase() {
  Service service;
  const long before = ResidentKilobytes(service.process.Pid());
  std::atomic<bool> running{true};
  std::atomic<long> answered{0};
  std::vector<std::thread> flooders;
  for (int i = 0; i < kFloodClients; ++i) {
    flooders.emplace_back([&] {
      const std::string lines = [] {
        std::string text;
        for (int n = 0; n < 256; ++n) text += "X-Filler-" + std::to_string(n) + ": aaaaaaaa\r\n";
        return text;
      }();
      while (running) {
        RawTlsConnection connection(service.process.Port(), service.process.AuthorityFile());
        connection.Send("POST " + kTarget + " HTTP/1.1\r\n");
        while (running && connection.Send(lines)) {
        }
        ++answered;
      }
    });
  }
  long peak = before;
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end) {
    peak = std::max(peak, ResidentKilobytes(service.process.Pid()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  running = false;
  for (std::thread& flooder : flooders) flooder.join();
  std::printf(
      "| RSS with %d connections sending endless headers for 10 s | %ld kB before, "
      "%ld kB peak (+%ld kB; %ld connections cut at the header cap) |\n",
      kFloodClients, before, peak, peak - before, answered.load());
}

void ConcurrentPhase() {
  Service service;
  const HttpCall call = service.GoodCall();
  std::vector<double> latencies(kConcurrent);
  std::vector<long> statuses(kConcurrent);
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  for (int i = 0; i < kConcurrent; ++i) {
    clients.emplace_back([&, i] {
      statuses[i] = Call(service.process.Port(), service.process.AuthorityFile(), call).status;
      latencies[i] = Milliseconds(Clock::now() - start);
    });
  }
  for (std::thread& client : clients) client.join();
  const long ok = std::count(statuses.begin(), statuses.end(), 200L);
  const long busy = std::count(statuses.begin(), statuses.end(), 503L);
  const long none = std::count(statuses.begin(), statuses.end(), 0L);
  const double p50 = Percentile(latencies, 0.5);
  const double p99 = Percentile(latencies, 0.99);
  std::printf(
      "| %d good requests at once, %d decoders | %ld answered 200, %ld 503, %ld without "
      "answer; p50 %.0f ms, p99 %.0f ms (p99/p50 %.2f; bound 2 x %d/%d = %d) |\n",
      kConcurrent, kDecoders, ok, busy, none, p50, p99, p99 / p50, kConcurrent, kDecoders,
      2 * kConcurrent / kDecoders);
}

void StopPhase() {
  Service service;
  const HttpCall call = service.GoodCall();
  std::atomic<bool> running{true};
  std::atomic<long> answered{0}, refused{0}, dropped{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kStopClients; ++i) {
    clients.emplace_back([&] {
      while (running) {
        const HttpAnswer answer =
            Call(service.process.Port(), service.process.AuthorityFile(), call);
        if (answer.status != 0) {
          ++answered;
        } else if (answer.tlsUp) {
          ++dropped;
        } else {
          ++refused;  // never accepted: the listener is gone
          return;
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto stopAt = Clock::now();
  const int status = service.process.Stop(SIGTERM);
  const double stopMs = Milliseconds(Clock::now() - stopAt);
  running = false;
  for (std::thread& client : clients) client.join();
  std::printf(
      "| SIGTERM under %d clients | exit %d after %.0f ms; %ld answered, %ld accepted "
      "without answer, %ld refused after the stop |\n",
      kStopClients, status, stopMs, answered.load(), dropped.load(), refused.load());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("| measure | result |\n|---|---|\n");
  SlowClientPhase(rounds);
  FloodPhase();
  ConcurrentPhase();
  StopPhase();
  return 0;
}
