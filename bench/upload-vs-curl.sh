#!/usr/bin/env bash
# The upload of a 3-second WAV file (96 kB) and of a 64 MB file against the curl tool sending
# the same bytes with the same header lines to the same local TLS test server, and the 96 kB
# upload once more through a relay that makes the server 20 ms away.
# Usage: bench/upload-vs-curl.sh [RUNS]   (default 5 alternating runs)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_uploading quorel_bench_upload \
  quorel_bench_delay_relay quorel-tls-test-server >/dev/null

work=$(mktemp -d /tmp/quorel-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
build/bench/quorel_bench_uploading build/tests/support/tls/quorel-tls-test-server \
  build/bench/quorel_bench_delay_relay build/bench/quorel_bench_upload "$work" "${1:-5}"
