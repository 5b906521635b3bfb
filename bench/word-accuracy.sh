#!/usr/bin/env bash
# Word accuracy and recognition speed through the real path: espeak-ng speaks each sentence of
# tests/end_to_end/free-speech-sentences.txt into a private PulseAudio source, `quorel listen`
# records it through the library and uploads it to quorel-service, and the transcript is
# scored against the sentence. Uses build/ as scripts/demo.sh configured it.
# Usage: bench/word-accuracy.sh [--voice VOICE] [--sentences FILE] [--grammar FILE.jsgf] [ROUNDS]
#   --voice      an espeak-ng voice instead of en-us+klatt
#   --sentences  one sentence a line, instead of free-speech-sentences.txt
#   --grammar    the service recognises only what FILE.jsgf allows
set -euo pipefail
cd "$(dirname "$0")/.."

sentences_file=tests/end_to_end/free-speech-sentences.txt
service_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --voice) export QUOREL_SPOKEN_VOICE=${2:?a voice}; shift 2 ;;
    --sentences) sentences_file=${2:?a sentence file}; shift 2 ;;
    --grammar) service_options=(--grammar "$(realpath "${2:?a grammar}")"); shift 2 ;;
    *) break ;;
  esac
done
rounds=${1:-3}
port=$(sed -n 's/^QUOREL_SERVICE_PORT:STRING=//p' build/CMakeCache.txt 2>/dev/null || true)
authority=$(sed -n 's/^QUOREL_CA_FILE:FILEPATH=//p' build/CMakeCache.txt 2>/dev/null || true)
if [ -z "$authority" ] || [ -z "$port" ]; then
  echo "build/ does not name a local service; run scripts/demo.sh first" >&2
  exit 1
fi
cmake --build build -j2 --target quorel quorel-service >/dev/null

work=$(mktemp -d /tmp/quorel-bench-XXXXXX)
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || { kill -TERM "$service_pid"; wait "$service_pid" || true; }
  bash scripts/spoken-input.sh stop "$work/pulse"
  rm -rf "$work"
}
trap cleanup EXIT
: >"$work/service.log"
build/service/quorel-service --key bench --port "$port" --state-dir "$(dirname "$authority")" \
  "${service_options[@]}" >"$work/service.log" 2>&1 &
service_pid=$!
until grep -q "listening on" "$work/service.log"; do
  kill -0 "$service_pid" || { cat "$work/service.log" >&2; exit 1; }
  sleep 0.1
done
environment=$(bash scripts/spoken-input.sh start "$work/pulse")
while IFS= read -r line; do export "${line?}"; done <<<"$environment"

errors=0
words=0
exact=0
sentences=0
for ((round = 1; round <= rounds; round++)); do
  while IFS= read -r sentence; do
    rm -f "$work/heard.wav"
    heard=$(bash scripts/spoken-input.sh hear "$work/pulse" "$sentence" "$work/heard.wav" \
      build/tools/quorel/quorel listen --key bench --wav "$work/heard.wav" 2>/dev/null || true)
    read -r wrong count < <(awk -v reference="$sentence" -v heard="$heard" -f scripts/word-errors.awk)
    errors=$((errors + wrong))
    words=$((words + count))
    sentences=$((sentences + 1))
    [ "$wrong" -ne 0 ] || exact=$((exact + 1))
    printf '%-28s -> %s\n' "$sentence" "$heard"
  done <"$sentences_file"
done

# Each 200 line of the service's log gives the body length and the recognition time; the audio
# is the body less the envelope (123 bytes) and the WAV header (44 bytes), at 32000 bytes a second.
awk -v words="$words" -v errors="$errors" -v exact="$exact" -v sentences="$sentences" '
  / 200 in=/ {
    for (i = 1; i <= NF; i++) {
      if ($i ~ /^in=/) audio += (substr($i, 4) - 167) / 32000
      if ($i ~ /^recognise;dur=/) recognise += substr($i, 15) / 1000
    }
  }
  END {
    printf "word accuracy: %.1f%% (%d errors in %d words); sentences exact: %d of %d\n",
           100 * (1 - errors / words), errors, words, exact, sentences
    printf "recognition: %.2f s per second of audio (%.1f s for %.1f s of audio)\n",
           recognise / audio, recognise, audio
  }' "$work/service.log"
