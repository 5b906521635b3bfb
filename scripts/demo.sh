#!/usr/bin/env bash
# The whole path for real: installs what is needed, builds the library for the local service,
# starts quorel-service, records a spoken sentence through the library's recorder, uploads it
# through the library and prints the words the service heard. With a capture device present it
# records you for five seconds; without one, espeak-ng speaks a sentence into a private
# PulseAudio source that serves as the default input.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly sentence="how are you today"
readonly port=${QUOREL_DEMO_PORT:-8443}
readonly key=demo-key
readonly state=${XDG_STATE_HOME:-$HOME/.local/state}/quorel-service
readonly started=$(date +%s%N)

work=$(mktemp -d)
service_pid=""
spoken_input=""
cleanup() {
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  [ -z "$spoken_input" ] || bash scripts/spoken-input.sh stop "$spoken_input"
  rm -rf "$work"
}
trap cleanup EXIT
# Ctrl-C reaches the demo and the tool, which ends its recording and sends it; the demo then
# stops, saying so, and its cleanup ends the service, which runs in a session of its own so that
# the same Ctrl-C does not stop it under the tool.
trap 'echo "demo: interrupted" >&2; exit 130' INT TERM

bash scripts/install-deps.sh
# The library trusts the service's local authority and names its port; both are fixed when it
# is built, so the authority is made before the library is configured.
cmake -S . -B build -DQUOREL_BUILD_TESTS=OFF -DQUOREL_SERVICE_PORT="$port" \
  -DQUOREL_CA_FILE="$state/authority.pem" >/dev/null
cmake --build build -j"$(nproc)" --target quorel-service >/dev/null
build/service/quorel-service --init --state-dir "$state"
cmake --build build -j"$(nproc)" >/dev/null

setsid build/service/quorel-service --key "$key" --port "$port" --state-dir "$state" \
  >"$work/service.log" 2>&1 &
service_pid=$!
until grep -q "listening on" "$work/service.log"; do
  if ! kill -0 "$service_pid" 2>/dev/null; then
    service_pid=""
    echo "demo: the service did not start:" >&2
    cat "$work/service.log" >&2
    exit 1
  fi
  sleep 0.1
done

tool=build/tools/quorel/quorel
listened=0
if arecord -l 2>/dev/null | grep -q '^card'; then
  echo "demo: speak now; recording five seconds from the default input"
  heard=$("$tool" listen --key "$key" --seconds 5 --wav "$work/demo.wav") || listened=$?
else
  spoken_input="$work/pulse"
  environment=$(bash scripts/spoken-input.sh start "$spoken_input")
  while IFS= read -r line; do export "${line?}"; done <<<"$environment"
  echo "demo: no capture device; espeak-ng says: $sentence"
  heard=$(bash scripts/spoken-input.sh hear "$spoken_input" "$sentence" "$work/demo.wav" \
    "$tool" listen --key "$key" --wav "$work/demo.wav") || listened=$?
fi
# A Ctrl-C during the recording has ended the demo by now, through its trap, whatever the tool
# made of the shortened recording.
[ "$listened" -eq 0 ] || exit "$listened"
echo "demo: heard: $heard"
if [ -n "$spoken_input" ] && [ "$heard" != "$sentence" ]; then
  echo "demo: the transcript differs from the sentence" >&2
  exit 1
fi
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
printf 'demo: done in %d.%d s\n' $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100))
