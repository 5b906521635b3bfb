#!/usr/bin/env bash
# How well the service's "confidence" tracks whether its transcript is right. espeak-ng says each
# sentence of tests/end_to_end/free-speech-sentences.txt in several voices, clean and
# with white noise mixed in; each file goes to quorel-service as a form upload (curl -F), and
# the transcript is scored against the sentence. Prints, over all utterances: mean confidence of
# exact and of wrong transcripts, the correlation of confidence with word accuracy, and the
# chance that an exact transcript has a higher confidence than a wrong one (0.5: no better than a
# coin). Builds quorel-service in build/ (configured as scripts/test.sh does).
# Usage: bench/confidence-vs-correctness.sh
set -euo pipefail
cd "$(dirname "$0")/.."

voices=(en-us en-us+klatt en-gb-x-rp)
speeds=(170)
noises=(0 0.08) # white noise amplitude mixed in, full scale 1

cmake --build build -j2 --target quorel-service >/dev/null
work=$(mktemp -d /tmp/quorel-confidence-XXXXXX)
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || { kill -TERM "$service_pid"; wait "$service_pid" || true; }
  rm -rf "$work"
}
trap cleanup EXIT
build/service/quorel-service --key bench --port 0 --threads 2 --state-dir "$work/state" \
  >"$work/service.log" 2>&1 &
service_pid=$!
until grep -q "listening on" "$work/service.log"; do
  kill -0 "$service_pid" || { cat "$work/service.log" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/service.log")

# One utterance: speaks, mixes, uploads; prints "CONFIDENCE<TAB>WRONG<TAB>WORDS<TAB>VOICE NOISE:
# SENTENCE -> HEARD".
utterance() {
  local sentence=$1 voice=$2 speed=$3 noise=$4 name=$5
  espeak-ng -v "$voice" -s "$speed" -w "$work/$name-raw.wav" "$sentence"
  sox "$work/$name-raw.wav" -r 16000 -c 1 -b 16 "$work/$name-clean.wav"
  if [ "$noise" = 0 ]; then
    mv "$work/$name-clean.wav" "$work/$name.wav"
  else
    sox -n -r 16000 -c 1 -b 16 "$work/$name-noise.wav" \
      synth "$(soxi -D "$work/$name-clean.wav")" whitenoise vol "$noise"
    sox -m "$work/$name-clean.wav" "$work/$name-noise.wav" "$work/$name.wav"
  fi
  local answer confidence heard
  answer=$(curl -sS --cacert "$work/state/authority.pem" -F myfile=@"$work/$name.wav" \
    "https://localhost:$port/speech-api/v2/recognize?key=bench")
  confidence=$(sed -n 's/.*"confidence":\([0-9.e+-]*\).*/\1/p' <<<"$answer")
  heard=$(sed -n 's/.*"transcript":"\([^"]*\)".*/\1/p' <<<"$answer")
  read -r wrong count < <(awk -v reference="$sentence" -v heard="$heard" -f scripts/word-errors.awk)
  printf '%s\t%s\t%s\t%s %s: %s -> %s\n' "${confidence:-0}" "$wrong" "$count" "$voice" "$noise" \
    "$sentence" "$heard"
}

n=0
pids=()
while IFS= read -r sentence; do
  for voice in "${voices[@]}"; do
    for speed in "${speeds[@]}"; do
      for noise in "${noises[@]}"; do
        n=$((n + 1))
        utterance "$sentence" "$voice" "$speed" "$noise" "u$n" <&- >"$work/u$n.score" &
        pids+=($!)
        # Two at a time, one for each decoder (a bare wait would wait for the service too).
        [ ${#pids[@]} -lt 2 ] || { wait "${pids[@]}"; pids=(); }
      done
    done
  done
done <tests/end_to_end/free-speech-sentences.txt
[ ${#pids[@]} -eq 0 ] || wait "${pids[@]}"
cat "$work"/u*.score >"$work/scores"
awk -F'\t' '{ printf "%.2f  %d/%d wrong  %s\n", $1, $2, $3, $4 }' "$work/scores" | sort -n

awk -F'\t' '
  {
    c[NR] = $1; accuracy[NR] = 1 - $2 / $3; exact[NR] = ($2 == 0)
    if (exact[NR]) { good++; goodSum += $1 } else { bad++; badSum += $1 }
  }
  END {
    for (i = 1; i <= NR; i++) { mc += c[i]; ma += accuracy[i] }
    mc /= NR; ma /= NR
    for (i = 1; i <= NR; i++) {
      sxy += (c[i] - mc) * (accuracy[i] - ma)
      sxx += (c[i] - mc) ^ 2; syy += (accuracy[i] - ma) ^ 2
    }
    for (i = 1; i <= NR; i++) for (j = 1; j <= NR; j++) if (exact[i] && !exact[j]) {
      pairs++; wins += (c[i] > c[j]) + 0.5 * (c[i] == c[j])
    }
    printf "\nutterances: %d, transcripts exact: %d, wrong: %d; mean word accuracy %.1f%%\n",
           NR, good, bad, 100 * ma
    printf "mean confidence: exact %.3f, wrong %.3f\n", good ? goodSum / good : 0,
           bad ? badSum / bad : 0
    printf "correlation of confidence with word accuracy: %.2f\n",
           sxx && syy ? sxy / sqrt(sxx * syy) : 0
    printf "chance that an exact transcript has the higher confidence: %.2f\n",
           pairs ? wins / pairs : 0
  }' "$work/scores"
