#!/usr/bin/env bash
# quorel-service against 100 slow-header, 100 slow-body and 100 idle clients, 4 clients sending
# endless headers, 64 good requests at once, and a SIGTERM under 40 clients; each phase starts a
# service of its own on a free loopback port and ends after a fixed time. About two minutes.
# Usage: bench/service-under-load.sh [ROUNDS]   (good requests per latency measure, default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_service_load quorel-service >/dev/null
ulimit -n 4096
build/bench/quorel_bench_service_load "${1:-20}"
