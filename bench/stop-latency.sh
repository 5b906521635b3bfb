#!/usr/bin/env bash
# Measures how long the recorder's Stop takes to return, capturing from ALSA's "default"
# device over a private PulseAudio daemon. Usage: bench/stop-latency.sh [RECORDINGS]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_stop_latency >/dev/null

work=$(mktemp -d /tmp/quorel-bench-XXXXXX)
trap 'bash scripts/private-pulseaudio.sh stop "$work/pulse"; rm -rf "$work"' EXIT
while IFS= read -r line; do export "${line?}"; done \
  < <(bash scripts/private-pulseaudio.sh start "$work/pulse")
build/bench/quorel_bench_stop_latency "$work" "${1:-20}"
