#!/usr/bin/env bash
# Recording against arecord on the same paced source (CPU time, peak memory, samples, the
# counter signal intact), then the recorder's Stop time over 50 stops.
# Usage: bench/recording-vs-arecord.sh [RUNS] [SECONDS]   (defaults: 5 runs of 30 s each)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_recording quorel_bench_record >/dev/null

work=$(mktemp -d /tmp/quorel-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
build/bench/quorel_bench_recording build/bench/quorel_bench_record "$work" "${1:-5}" "${2:-30}"
bash bench/stop-latency.sh 50
