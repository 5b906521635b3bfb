#!/usr/bin/env bash
# Cross-builds both Windows DLLs and the Wine test programs of each, then runs every Windows test
# in a throwaway Wine prefix, once for the x86_64 DLL (64-bit Wine) and once for the i686 DLL
# (32-bit Wine, a 32-bit caller): the export tables and imports; the ordinals, resources, load
# and unload; the Win32 files, clock and lock; the winmm input and the recorder with no sound
# device and with a private PulseAudio server playing a sine; the upload against local TLS
# servers. Each case line names its architecture. On a kernel that runs no 32-bit x86 programs
# the i686 programs are left out, with a line that says so. Ends with the line "N passed, N
# failed" and fails on any failure.
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
cmake -S . -B build -DQUOREL_BUILD_TESTS=ON -DQUOREL_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build -j"$(nproc)" --target quorel-tls-test-server
built=$SECONDS

readonly architectures=(x86_64 i686)
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
for arch in "${architectures[@]}"; do
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

# --- The architectures this machine can run ------------------------------------------------
# Wine's 32-bit half needs a kernel that runs 32-bit x86 programs, which some virtual machines
# lack. There only 64-bit Wine runs, through its own loader (the `wine` command would start the
# 32-bit one), and the i686 DLL is built and its tables checked, but its programs are not run.
# install-deps.sh asks the kernel the same question before it installs 32-bit Wine.
run_architectures=(x86_64)
wine=wine
if bash scripts/runs-32bit-x86.sh; then
  run_architectures+=(i686)
else
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
  echo "[ SKIP ] i686: this machine's kernel runs no 32-bit x86 programs, so 32-bit Wine cannot" \
    "run here; the i686 DLL is built and its tables checked, its test programs are not run"
fi

# --- The Wine prefix ----------------------------------------------------------------------
# Headless and quiet; no Mono or Gecko, which nothing here uses.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
prefix_started=$SECONDS
"$wine" wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w
# Audio through winepulse only: with no PulseAudio server there is no input device at all.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >>"$work/wineboot.log" 2>&1
prefix_ready=$SECONDS

# Windows paths of Linux files: Wine maps the Linux root to drive Z:.
windows_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

mkdir -p "$work/certs"
"$server" --make-certificates "$work/certs" >/dev/null
certs=$work/certs
# Each architecture's own program, so that both views of the Root store hold the authorities.
for arch in "${run_architectures[@]}"; do
  if "$wine" "$root/build-wine/$arch/tests/windows/install_test_ca.exe" \
    "$(windows_path "$certs/test-ca.crt")" >"$work/install_test_ca-$arch.log" 2>&1; then
    pass "Prefix.$arch.TestAuthorityAddedToTheRootStore"
  else
    fail "Prefix.$arch.TestAuthorityAddedToTheRootStore: $(cat "$work/install_test_ca-$arch.log")"
  fi
done

# Runs a test program of each architecture under Wine with the given case prefixes, shows its
# lines (each with the architecture) and adds its tally; a program that ends without one (a
# crash, a hang) counts as one failure.
run_program() {
  local arch
  for arch in "${run_architectures[@]}"; do
    run_program_of "$arch" "$@"
  done
}
run_program_of() {
  local arch=$1 program=$2
  shift 2
  local log=$work/$arch-$program-$#-$RANDOM.log
  local status=0
  timeout 300 "$wine" "$root/build-wine/$arch/tests/windows/$program.exe" "$@" >"$log" \
    2>"$log.stderr" || status=$?
  grep -E '^\[ (FAIL| OK ) \]|^  ' "$log" | sed "s/^\(\[ .... \]\) /\1 $arch /" || true
  local tally
  tally=$(tail -n 1 "$log" | tr -d '\r')  # Wine's console ends lines with CR LF
  if [[ $tally =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    if [ "$status" -ne 0 ] && [ "${BASH_REMATCH[2]}" -eq 0 ]; then
      fail "$arch $program $*: exit status $status"
    fi
  else
    fail "$arch $program $*: ended without a tally (status $status); see $log"
  fi
}

# --- No sound device ----------------------------------------------------------------------
PULSE_SERVER=unix:$work/no-such-server run_program module_windows_tests Module
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
# 16 samples are one period at 16000 Hz; amplitude 12000, as the winmm input test expects.
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
# One per certificate of the set, for the certificate cases, each recording its connections'
# requests: QUOREL_PORT_EXPIRED_ROOT and QUOREL_RECORDS_EXPIRED_ROOT for expired-root.crt.
for certificate in localhost wrong-name expired not-yet-valid self-signed other-ca \
  expired-under-intermediate expired-intermediate expired-root; do
  name=$(tr 'a-z-' 'A-Z_' <<<"$certificate")
  mkdir -p "$work/records/$name"
  start_server "$name" "$certificate" --record-folder "$work/records/$name"
  export "QUOREL_RECORDS_$name=$(windows_path "$work/records/$name")"
done
# The servers of the upload cases both systems share (tests/support/tls/server_catalogue.cpp),
# each recording its requests as those above.
for name in $("$server" --catalogue-names); do
  mkdir -p "$work/records/$name"
  start_server "$name" localhost --catalogue "$name" --record-folder "$work/records/$name"
  export "QUOREL_RECORDS_$name=$(windows_path "$work/records/$name")"
done

# The FrozenServer cases ask, through files in this folder, for the sound server to be frozen
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
run_program library_windows_tests FrozenServer
run_program module_windows_tests FrozenServer
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
echo "programs run for: ${run_architectures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
