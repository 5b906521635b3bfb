// The bound on one whole exchange (reaching the host, sending the body, reading the answer),
// beside the limits on each step: a server that sends a byte just before each stall limit runs
// out would otherwise hold the caller for ever. It grows with the declared body at a floor of
// 8 KiB/s, so that an upload on a slow link is not cut: 2 GiB has about 73 hours.
#pragma once

#include <cstdint>

namespace quorel {

constexpr uint64_t kExchangeFloorBytesPerSecond = 8 * 1024;

// The connect limit, two stall limits (the server's thinking, the answer) and the body's time
// at the floor rate.
constexpr uint64_t WholeExchangeLimitMs(uint32_t connectTimeoutMs, uint32_t stallTimeoutMs,
                                        uint64_t declaredLength) {
  return connectTimeoutMs + 2 * uint64_t{stallTimeoutMs} +
         declaredLength * 1000 / kExchangeFloorBytesPerSecond;
}

}  // namespace quorel
