// What one client may hold of the service and for how long. The values follow nginx's defaults
// where it has one (backlog, connections, header size), and are shorter where the service's one
// request, a few seconds of speech from a client on the same machine, needs less.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorel::service {

// From accept to the end of the TLS handshake.
inline constexpr std::chrono::seconds kHandshakeDeadline{10};
// From the end of the handshake to the end of the request's header block, however it trickles.
inline constexpr std::chrono::seconds kHeaderDeadline{10};
// The body must bring at least kMinBodyBytesPerWindow in every window of kBodyWindow.
inline constexpr std::chrono::seconds kBodyWindow{5};
inline constexpr size_t kMinBodyBytesPerWindow = 8 * 1024;
// A body refused from its head is read through and dropped (so that the client is able to read
// its answer) for this long at most, however fast it comes; then the connection closes.
inline constexpr std::chrono::seconds kRefusedBodyDrain{10};
// How long a body waits for room in the body budget, its reading paused; then 503.
inline constexpr std::chrono::seconds kBodyRoomWait{30};
// At a stop, for a handshake under way to end so that the client can be answered 503. A client
// on loopback ends its handshake in milliseconds; one that has not by then is not answered.
inline constexpr std::chrono::milliseconds kHandshakeGraceAtStop{250};
// While a request waits for its recognition or is recognised, how often its client is checked
// for having gone (closed or reset its connection), in which case the recognition is abandoned.
inline constexpr std::chrono::milliseconds kClientCheckInterval{200};
// For the whole answer to leave.
inline constexpr std::chrono::seconds kAnswerDeadline{10};
// After an answer given while request bytes were still unread (a body refused at its head, a
// request after the answered one), what comes is taken and dropped for this long, so that
// closing does not reset the connection before the client has read the answer.
inline constexpr std::chrono::seconds kLingerTime{2};

// Request line and header fields together (nginx: 4 buffers of 8 kB); over it: 431.
inline constexpr uint32_t kMaxHeaderBytes = 32 * 1024;
// What one connection reads ahead; twice the header cap, so the cap is what a long head meets.
inline constexpr size_t kReadBufferBytes = 2 * kMaxHeaderBytes;
// The request target alone; over it: 414.
inline constexpr size_t kMaxTargetBytes = 8 * 1024;

// Open connections at once. Past it a new connection takes the slot of one that has done least
// (see ServiceConnection::YieldRank); when none can give its slot up, further clients wait in
// the listen backlog.
inline constexpr size_t kMaxConnections = 512;
inline constexpr int kListenBacklog = 511;

// Requests waiting for a decoder; past it: 503 with Retry-After.
inline constexpr size_t kRecognitionLine = 64;
inline constexpr int kRetryAfterSeconds = 1;

}  // namespace quorel::service
