#!/usr/bin/env bash
# quorel-service against 100 slow-header, 100 slow-body and 100 idle clients, 4 clients sending
# endless headers and 64 good requests at once; then, beside nginx (started by the bench with a
# config of its own in build/bench/nginx-peer, in front of a quorel-service of its own), 100
# clients posting 16 MiB bodies, 600 connections that never handshake, 600 idle TLS connections,
# a SIGTERM under 40 clients and 520 slow bodies with a wrong key. Each phase starts its servers
# on free loopback ports and ends after a fixed time. About eight minutes.
# Usage: bench/service-under-load.sh [ROUNDS]   (good requests per latency measure, default 20)
# nginx: scripts/install-deps.sh --bench; without it the nginx column says it is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_service_load quorel-service >/dev/null
ulimit -n 4096
nginx=()
if command -v nginx >/dev/null; then
  nginx=("$(command -v nginx)" "$PWD/build/bench/nginx-peer")
else
  echo "nginx is not installed: the nginx column stays empty" >&2
fi
build/bench/quorel_bench_service_load "${1:-20}" "${nginx[@]}"
