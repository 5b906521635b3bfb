#!/usr/bin/env bash
# Load and unload time of the shared library and its memory while recording (from the private
# PulseAudio source) and while uploading a 3-second WAV file to the local TLS test server. It
# uses the tests' build of the library, whose service is the test server on a fixed port.
# Usage: bench/footprint.sh
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorel_bench_footprint VantrelQuorelSpeechTestService \
  quorel-tls-test-server >/dev/null
port=$(grep -E '^QUOREL_TEST_SERVICE_PORT:' build/CMakeCache.txt | cut -d= -f2)
library=build/tests/upload/library/libVantrelQuorelSpeech.so
ca_file=build/tests/upload/test-service-ca.crt
server_program=build/tests/support/tls/quorel-tls-test-server

work=$(mktemp -d /tmp/quorel-bench-XXXXXX)
server=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  bash scripts/private-pulseaudio.sh stop "$work/pulse"
  rm -rf "$work"
}
trap cleanup EXIT
while IFS= read -r line; do export "${line?}"; done \
  < <(bash scripts/private-pulseaudio.sh start "$work/pulse")
"$server_program" --make-certificates "$work" >"$work/certificates"
cp "$(awk '/^ca /{print $2}' "$work/certificates")" "$ca_file"
"$server_program" --port "$port" $(awk '/^localhost /{print "--certificate", $2, "--key", $3}' \
  "$work/certificates") >"$work/server" &
server=$!
for _ in $(seq 50); do grep -q '^port' "$work/server" 2>/dev/null && break; sleep 0.1; done
head -c 96044 /dev/urandom >"$work/audio.wav"
build/bench/quorel_bench_footprint "$library" "$work/take.wav" "$work/audio.wav" \
  "$work/answer.json"
