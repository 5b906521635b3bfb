#!/usr/bin/env bash
# A private PulseAudio daemon whose default source is a paced null source at 16000 Hz mono
# s16le, so that ALSA's "default" capture device works on a machine without a sound card,
# D-Bus or X, also as root. Used by the tests, the demo and the benchmarks.
#
#   private-pulseaudio.sh start DIR   starts the daemon with DIR (created, mode 0700) as its
#                                     runtime folder and prints the client environment as
#                                     KEY=VALUE lines
#   private-pulseaudio.sh stop DIR    stops the daemon started with DIR, by its pid, and
#                                     removes DIR
#
# Sourced (as spoken-input.sh does), it only defines pulse_start DIR and pulse_stop DIR, which
# do the same (pulse_start also exports the client environment), and pulse_client_environment.

# Exports the environment of a client of the daemon whose runtime folder is $1.
pulse_client_environment() {
  export XDG_RUNTIME_DIR=$1 PULSE_SERVER=unix:$1/native PULSE_CLIENTCONFIG=$1/client.conf
}

pulse_start() {
  local dir=$1
  mkdir -p "$dir"
  chmod 0700 "$dir"
  dir=$(cd "$dir" && pwd)
  # Without max_latency_msec the null source delivers in large bursts instead of at real-time
  # pace.
  cat >"$dir/daemon.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-source source_name=quorel_null rate=16000 channels=1 format=s16le max_latency_msec=50
set-default-source quorel_null
PA
  # Clients must never start a daemon of their own.
  echo "autospawn = no" >"$dir/client.conf"
  # -n skips the system's default script (no hardware, D-Bus or X modules); as root the
  # daemon only warns. Its output goes to a file so that whoever reads ours sees EOF.
  HOME=$dir XDG_RUNTIME_DIR=$dir XDG_CONFIG_HOME=$dir/config PULSE_CLIENTCONFIG=$dir/client.conf \
    setsid pulseaudio -n --file="$dir/daemon.pa" --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no --realtime=no --high-priority=no --log-target=stderr \
    </dev/null >"$dir/daemon.log" 2>&1 &
  echo $! >"$dir/pid"

  pulse_client_environment "$dir"
  for _ in $(seq 100); do
    if [ -S "$dir/native" ] && HOME=$dir pactl info >/dev/null 2>&1; then
      printf '%s\n' "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" "PULSE_SERVER=$PULSE_SERVER" \
        "PULSE_CLIENTCONFIG=$PULSE_CLIENTCONFIG"
      return 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "private PulseAudio daemon did not start; its log:" >&2
  cat "$dir/daemon.log" >&2 || true
  pulse_stop "$dir"
  exit 1
}

pulse_stop() {
  local dir=$1 pid
  [ -f "$dir/pid" ] || return 0
  pid=$(cat "$dir/pid")
  if kill -TERM "$pid" 2>/dev/null; then
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "$#:${1:-}" in
    2:start) pulse_start "$2" ;;
    2:stop) pulse_stop "$2" ;;
    *) echo "usage: $0 start|stop DIR" >&2 && exit 2 ;;
  esac
fi
