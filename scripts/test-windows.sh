#!/usr/bin/env bash
# Cross-builds both Windows DLLs and the Wine test programs, then runs every Windows test in a
# throwaway Wine prefix: the export tables and imports of both DLLs; the x86_64 DLL's ordinals,
# resources, load and unload; the Win32 files, clock and lock; the winmm input and the
# recorder with no sound device and with a private PulseAudio server playing a sine; the upload
# against local TLS servers. Ends with the line "N passed, N failed" and fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS

bash scripts/install-deps.sh --windows

# The DLL under test is built to reach its test server here: below the ephemeral range, so no
# other server's port can take it.
readonly dll_port=24443
export QUOREL_WINDOWS_BUILD_DIR=build-wine
bash scripts/build-windows.sh --with-tests -DQUOREL_SERVICE_HOST=localhost \
  -DQUOREL_SERVICE_PORT=$dll_port
# The test TLS server is a Linux program; the Linux build of scripts/test.sh has it already.
cmake -S . -B build -DQUOREL_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target quorel-tls-test-server
built=$SECONDS

readonly programs=$root/build-wine/x86_64/tests/windows
readonly server=$root/build/tests/support/tls/quorel-tls-test-server
readonly work=$root/build-wine/run
rm -rf "$work"
mkdir -p "$work/servers" "$work/records"

passed=0
failed=0
pass() {
  echo "[  OK  ] $1"
  passed=$((passed + 1))
}
fail() {
  echo "[ FAIL ] $1"
  failed=$((failed + 1))
}

server_pids=()
player_group=""
pulse_dir=""
cleanup() {
  for pid in "${server_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  server_pids=()
  if [ -n "$player_group" ]; then kill -TERM -- "-$player_group" 2>/dev/null || true; fi
  player_group=""
  if [ -n "$pulse_dir" ]; then bash scripts/private-pulseaudio.sh stop "$pulse_dir" || true; fi
  pulse_dir=""
  if [ -d "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}
trap cleanup EXIT

# --- Export tables and imports, both architectures ---------------------------------------
expected_exports=$'1 QuorelSpeech\n2 QuorelSoundRecorderStart\n3 QuorelSoundRecorderStop'
for arch in x86_64 i686; do
  dll=$root/build-wine/$arch/src/module/VantrelQuorelSpeech.dll
  table=$("$arch-w64-mingw32-objdump" -p "$dll")
  base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p' <<<"$table")
  # Rows "[ index] name", index counted from the ordinal base.
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' \
    <<<"$table" | while read -r index name; do echo "$((index + base)) $name"; done | sort -n)
  if [ "$exports" = "$expected_exports" ]; then
    pass "Exports.$arch.ThreeUndecoratedNamesWithOrdinals1To3"
  else
    fail "Exports.$arch.ThreeUndecoratedNamesWithOrdinals1To3: got ${exports//$'\n'/, }"
  fi
  # Statically linked: only system DLLs, no runtime of the compiler's.
  foreign=$(sed -n 's/^\s*DLL Name: //p' <<<"$table" | tr '[:upper:]' '[:lower:]' |
    grep -vxE 'kernel32\.dll|msvcrt\.dll|wininet\.dll|winmm\.dll|crypt32\.dll' || true)
  if [ -z "$foreign" ]; then
    pass "Exports.$arch.ImportsOnlySystemDlls"
  else
    fail "Exports.$arch.ImportsOnlySystemDlls: also ${foreign//$'\n'/, }"
  fi
done

# --- The Wine prefix ----------------------------------------------------------------------
# Headless and quiet; no Mono or Gecko, which nothing here uses.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
prefix_started=$SECONDS
wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w
# Audio through winepulse only: with no PulseAudio server there is no input device at all.
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >>"$work/wineboot.log" 2>&1
prefix_ready=$SECONDS

# Windows paths of Linux files: Wine maps the Linux root to drive Z:.
windows_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

mkdir -p "$work/certs"
"$server" --make-certificates "$work/certs" >/dev/null
certs=$work/certs
if wine "$programs/install_test_ca.exe" "$(windows_path "$certs/test-ca.crt")" \
  >"$work/install_test_ca.log" 2>&1; then
  pass "Prefix.TestAuthorityAddedToTheRootStore"
else
  fail "Prefix.TestAuthorityAddedToTheRootStore: $(cat "$work/install_test_ca.log")"
fi

# Runs a test program under Wine with the given case prefixes, shows its lines and adds its
# tally; a program that ends without one (a crash, a hang) counts as one failure.
run_program() {
  local program=$1
  shift
  local log=$work/$program-$#-$RANDOM.log
  local status=0
  timeout 300 wine "$programs/$program.exe" "$@" >"$log" 2>"$log.stderr" || status=$?
  grep -E '^\[ (FAIL| OK ) \]|^  ' "$log" || true
  local tally
  tally=$(tail -n 1 "$log" | tr -d '\r')  # Wine's console ends lines with CR LF
  if [[ $tally =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    if [ "$status" -ne 0 ] && [ "${BASH_REMATCH[2]}" -eq 0 ]; then
      fail "$program $*: exit status $status"
    fi
  else
    fail "$program $*: ended without a tally (status $status); see $log"
  fi
}

# --- No sound device ----------------------------------------------------------------------
PULSE_SERVER=unix:$work/no-such-server run_program module_windows_tests
PULSE_SERVER=unix:$work/no-such-server run_program platform_windows_tests Files Clock Sync \
  NoAudioDevice
PULSE_SERVER=unix:$work/no-such-server run_program library_windows_tests NoAudioDevice

# --- A private PulseAudio server whose default source carries a 1000 Hz sine --------------
pulse_dir=$work/pulse
while IFS='=' read -r key value; do
  export "$key=$value"
done < <(bash scripts/private-pulseaudio.sh start "$pulse_dir")
pactl load-module module-null-sink sink_name=quorel_sine rate=16000 channels=1 \
  format=s16le >/dev/null
pactl set-default-source quorel_sine.monitor
# 16 samples are one period at 16000 Hz; amplitude 12000, as tests/windows/signal_checks.h has.
period=$(awk 'BEGIN { for (i = 0; i < 16; i++) {
  v = int(12000 * sin(2 * 3.14159265358979 * i / 16)); if (v < 0) v += 65536
  printf "\\%03o\\%03o", v % 256, int(v / 256) } }')
for _ in $(seq 1000); do printf '%b' "$period"; done >"$work/sine-1s.raw"
setsid bash -c 'while cat "$0"; do :; done | pacat --raw --format=s16le --rate=16000 \
  --channels=1 --device=quorel_sine' "$work/sine-1s.raw" >/dev/null 2>&1 &
player_group=$!

# --- Test TLS servers, one per certificate, answer or misbehaviour -------------------------
# Starts one and exports its port as QUOREL_PORT_<name>.
start_server() {
  local name=$1 certificate=$2
  shift 2
  : >"$work/servers/$name.out"  # there before the server runs, for the polling below
  "$server" --certificate "$certs/$certificate.crt" --key "$certs/$certificate.key" "$@" \
    >"$work/servers/$name.out" 2>&1 &
  server_pids+=($!)
  local port=""
  for _ in $(seq 100); do
    # The server's shell may not have made its output file yet.
    port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$work/servers/$name.out" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || {
    fail "Servers.$name started: $(cat "$work/servers/$name.out")"
    return 0
  }
  export "QUOREL_PORT_$name=$port"
}

export QUOREL_CERTIFICATES
QUOREL_CERTIFICATES=$(windows_path "$certs")
mkdir -p "$work/records/dll"
start_server DLL localhost --port $dll_port --record-folder "$work/records/dll"
export QUOREL_RECORDS_DLL
QUOREL_RECORDS_DLL=$(windows_path "$work/records/dll")
start_server LONG_CHUNKED localhost --answer-size 10000 --framing chunked --piece-size 1000
start_server UNTIL_CLOSE localhost --answer-size 5000 --framing close
start_server EMPTY localhost --answer-size 0
start_server CONTINUE localhost --send-continue
start_server ERROR_PAGE localhost --status "503 Service Unavailable"
start_server WRONG_NAME wrong-name
start_server EXPIRED expired
start_server NOT_YET_VALID not-yet-valid
start_server SELF_SIGNED self-signed
start_server OTHER_CA other-ca
start_server EXPIRED_UNDER_INTERMEDIATE expired-under-intermediate
start_server EXPIRED_INTERMEDIATE expired-intermediate
start_server EXPIRED_ROOT expired-root
start_server CONTINUE_THEN_CLOSE localhost --misbehave continue-then-close
# Answers after the envelope head and one chunk, then reads no more: the client is still sending.
for status in "417 Expectation Failed" "413 Payload Too Large"; do
  start_server "EARLY_${status%% *}" localhost --misbehave early-answer --status "$status" \
    --request-body-limit 1120 --receive-buffer 32768 --answer-size 40000
done
for misbehaviour in refuse fail-handshake no-answer cut-answer stall-answer \
  stall-in-answer; do
  name=$(tr 'a-z-' 'A-Z_' <<<"$misbehaviour")
  start_server "$name" localhost --misbehave "$misbehaviour"
done
start_server CLOSE_IN_REQUEST localhost --misbehave close-in-request --request-body-limit 0 \
  --receive-buffer 4096

# The FrozenServer case asks, through files in this folder, for the sound server to be frozen
# and thawed (a Windows program cannot stop a process of the host).
freeze=$work/freeze
mkdir -p "$freeze"
export QUOREL_FREEZE_FOLDER
QUOREL_FREEZE_FOLDER=$(windows_path "$freeze")
(
  while [ ! -e "$freeze/done" ]; do
    for step in freeze:STOP:frozen thaw:CONT:thawed; do
      IFS=: read -r request signal answer <<<"$step"
      if [ -e "$freeze/$request" ]; then
        rm -f "$freeze/$request"
        kill "-$signal" "$(cat "$pulse_dir/pid")"
        : >"$freeze/$answer"
      fi
    done
    sleep 0.05
  done
  kill -CONT "$(cat "$pulse_dir/pid")" 2>/dev/null || true
) &
freeze_watcher=$!
run_program platform_windows_tests AudioInput FrozenServer
: >"$freeze/done"
wait "$freeze_watcher"
run_program library_windows_tests Recorder Speech

# --- The recorder against a ramp (sample i has the value i modulo 65536) -------------------
kill -TERM -- "-$player_group" 2>/dev/null || true
pactl load-module module-null-sink sink_name=quorel_ramp rate=16000 channels=1 \
  format=s16le >/dev/null
pactl set-default-source quorel_ramp.monitor
# 65536 samples: one whole turn, so the loop runs on without a seam.
perl -e 'print pack("v*", 0 .. 65535)' >"$work/ramp.raw"
setsid bash -c 'while cat "$0"; do :; done | pacat --raw --format=s16le --rate=16000 \
  --channels=1 --device=quorel_ramp' "$work/ramp.raw" >/dev/null 2>&1 &
player_group=$!
run_program library_windows_tests Ramp
run_program upload_windows_tests

cleanup
trap - EXIT
echo "Wine prefix $((prefix_ready - prefix_started)) s; builds $((built - started)) s;" \
  "all $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
