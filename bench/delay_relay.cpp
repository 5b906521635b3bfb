// A TCP relay on loopback that holds every byte for a fixed time in each direction, so a
// service on this machine looks as far away as a real one (the kernel's delay queue is not
// available here). Each connection's traffic is logged as flights: runs of bytes in one
// direction ("C" client to service, "S" back) with the time the first of them arrived, which
// shows the round trips a client waits before it sends its body.
// Usage: quorel_bench_delay_relay TARGET_PORT DELAY_MS LOG_FILE
// Prints "port N" once it listens on 127.0.0.1, and relays until SIGTERM. A connection's line
// is appended to LOG_FILE once the client has closed its side.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Flight {
  char direction;
  double startMs;
  size_t bytes;
};

// The flights of one connection, added to by both directions' readers.
class FlightLog {
 public:
  explicit FlightLog(Clock::time_point start) : start_(start) {}
  void Add(char direction, size_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!flights_.empty() && flights_.back().direction == direction) {
      flights_.back().bytes += bytes;
      return;
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    flights_.push_back({direction, ms, bytes});
  }
  std::string Line() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string line;
    char item[64];
    for (const Flight& flight : flights_) {
      std::snprintf(item, sizeof item, "%s%c %zu @%.0f", line.empty() ? "" : " | ",
                    flight.direction, flight.bytes, flight.startMs);
      line += item;
    }
    return line;
  }

 private:
  std::mutex mutex_;
  Clock::time_point start_;
  std::vector<Flight> flights_;
};

struct Held {
  Clock::time_point due;
  std::string bytes;  // empty: the sender has finished
};

// One direction: the reader stamps what arrives, the writer passes it on once it is due.
void Relay(int from, int to, char direction, std::chrono::milliseconds delay, FlightLog& log) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Held> queue;
  std::thread writer([&] {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      arrived.wait(lock, [&] { return !queue.empty(); });
      Held held = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(held.due);
      if (held.bytes.empty()) break;
      for (size_t sent = 0; sent < held.bytes.size();) {
        const ssize_t n =
            send(to, held.bytes.data() + sent, held.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
    }
    shutdown(to, SHUT_WR);
  });
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = recv(from, buffer.data(), buffer.size(), 0);
    const Clock::time_point due = Clock::now() + delay;
    std::lock_guard<std::mutex> guard(mutex);
    if (n <= 0) {
      queue.push_back({due, {}});
      arrived.notify_one();
      break;
    }
    log.Add(direction, static_cast<size_t>(n));
    queue.push_back({due, std::string(buffer.data(), static_cast<size_t>(n))});
    arrived.notify_one();
  }
  writer.join();
}

int ConnectToTarget(uint16_t port) {
  const int target = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(target);
    return -1;
  }
  return target;
}

void NoDelay(int socket) {
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void Serve(int client, uint16_t targetPort, std::chrono::milliseconds delay,
           const std::string& logPath) {
  FlightLog log(Clock::now());
  const int target = ConnectToTarget(targetPort);
  if (target >= 0) {
    NoDelay(client);
    NoDelay(target);
    std::thread back(Relay, target, client, 'S', delay, std::ref(log));
    Relay(client, target, 'C', delay, log);
    // The client has finished: its exchange is complete in the log.
    static std::mutex logMutex;
    {
      std::lock_guard<std::mutex> guard(logMutex);
      std::ofstream(logPath, std::ios::app) << log.Line() << "\n";
    }
    back.join();
    close(target);
  }
  close(client);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s TARGET_PORT DELAY_MS LOG_FILE\n", argv[0]);
    return 2;
  }
  const uint16_t targetPort = static_cast<uint16_t>(std::atoi(argv[1]));
  const std::chrono::milliseconds delay(std::atoi(argv[2]));
  const std::string logPath = argv[3];

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // port 0: a free one
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("relay: cannot listen on 127.0.0.1");
    return 1;
  }
  std::printf("port %u\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    std::thread(Serve, client, targetPort, delay, logPath).detach();
  }
}
