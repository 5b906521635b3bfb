#!/usr/bin/env bash
# Spoken sentences as the default audio input on a machine without a microphone: a private
# PulseAudio daemon (private-pulseaudio.sh) gains a null sink whose monitor becomes the default
# source, so ALSA's "default" capture device hears whatever is played into that sink.
#
#   spoken-input.sh start DIR          starts it all and prints the client environment as
#                                      KEY=VALUE lines (as private-pulseaudio.sh does)
#   spoken-input.sh say DIR SENTENCE   speaks SENTENCE (espeak-ng, en-us+klatt or the voice in
#                                      QUOREL_SPOKEN_VOICE, at 175 words a minute, 16 kHz mono)
#                                      into the sink; returns once played
#   spoken-input.sh hear DIR SENTENCE WAV COMMAND...
#                                      runs COMMAND (a recording into WAV, such as
#                                      "quorel listen --wav WAV"), speaks SENTENCE once WAV has
#                                      been created, then ends the recording with SIGINT and
#                                      returns COMMAND's exit status
#   spoken-input.sh stop DIR           stops everything started with DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/private-pulseaudio.sh
source "$here/private-pulseaudio.sh"
sink=quorel_speech

usage() {
  echo "usage: $0 start DIR | say DIR SENTENCE | hear DIR SENTENCE WAV COMMAND... | stop DIR" >&2
  exit 2
}

[ $# -ge 2 ] || usage
command=$1
dir=$2

start() {
  local environment
  environment=$(pulse_start "$dir")
  dir=$(cd "$dir" && pwd)
  pulse_client_environment "$dir"
  pactl load-module module-null-sink sink_name=$sink rate=16000 channels=1 format=s16le >/dev/null
  pactl set-default-source $sink.monitor
  # An idle null sink renders in blocks of seconds, so its monitor would deliver in bursts; a
  # low-latency stream of silence keeps it rendering in small blocks, at real-time pace.
  setsid pacat --playback --device=$sink --format=s16le --rate=16000 --channels=1 \
    --latency-msec=20 /dev/zero </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/keeper.pid"
  echo "$environment"
}

say() {
  local sentence=$1
  pulse_client_environment "$dir"
  local wave="$dir/sentence.wav"
  espeak-ng -v "${QUOREL_SPOKEN_VOICE:-en-us+klatt}" -s 175 -w "$dir/sentence-raw.wav" "$sentence"
  sox "$dir/sentence-raw.wav" -r 16000 -c 1 -b 16 "$wave"
  paplay --device=$sink --latency-msec=20 "$wave"
}

hear() {
  [ $# -ge 5 ] || usage
  local sentence=$3 wave=$4
  shift 4
  pulse_client_environment "$dir"
  "$@" &
  local recorder=$!
  until [ -s "$wave" ]; do
    kill -0 "$recorder" 2>/dev/null || { wait "$recorder"; return $?; }
    sleep 0.02
  done
  say "$sentence"
  # What was played reaches the recorder only after the capture stream's latency (above a second
  # through the monitor), so the recording goes on a little past the end of the sentence.
  sleep 1.5
  kill -INT "$recorder" 2>/dev/null || true # a Ctrl-C may have ended it already
  wait "$recorder"
}

stop() {
  if [ -f "$dir/keeper.pid" ]; then
    kill -TERM "$(cat "$dir/keeper.pid")" 2>/dev/null || true
  fi
  pulse_stop "$dir"
}

case "$command" in
  start) start ;;
  say) say "${3:?a sentence to say}" ;;
  hear) hear "$@" ;;
  stop) stop ;;
  *) usage ;;
esac
