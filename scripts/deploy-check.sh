#!/usr/bin/env bash
# The deployment on this machine: nginx with deploy/nginx/quorel-service.conf in front of two
# quorel-service instances, each on a free loopback port with a state folder of its own in a
# temporary folder, and the library built for nginx's port (in build-deploy/). 40 requests from
# 8 threads through the library must all come back with the spoken sentence, and both instances
# must have served; then 40 more, and one instance is killed (SIGKILL) once 8 of them have been
# answered: every request must still be answered, by the other. Also verifies the systemd unit
# where systemd-analyze is installed. Prints the figures, exits 1 on any failure. Needs nginx
# (scripts/install-deps.sh --bench). About 20 s once built, under a minute from scratch.
set -euo pipefail
cd "$(dirname "$0")/.."

# The end-to-end tests' grammar keeps each recognition short: the check is of the deployment.
readonly grammar=tests/end_to_end/commands.gram
readonly sentence="turn off the radio"
readonly key=deploy-check
readonly requests=40
readonly threads=8
readonly kill_after=8
readonly jobs=${QUOREL_BUILD_JOBS:-$(nproc)}
readonly site_config=deploy/nginx/quorel-service.conf
readonly unit=deploy/systemd/quorel-service@.service

fail() {
  echo "deploy-check: $*" >&2
  exit 1
}
command -v nginx >/dev/null || fail "nginx is not installed (scripts/install-deps.sh --bench)"

work=$(mktemp -d /tmp/quorel-deploy-check-XXXXXX)
# nginx's workers run as another user when it is started as root: they may pass, not list.
chmod 0711 "$work"
declare -A service_pid=()
nginx_pid=""
driver_pid=""
cleanup() {
  local pid
  for pid in "$driver_pid" "$nginx_pid" "${service_pid[@]}"; do
    [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "$driver_pid" "$nginx_pid" "${service_pid[@]}"; do
    [ -z "$pid" ] || wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# True when something accepts connections on 127.0.0.1:$1.
listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A port nothing listens on now; nginx fails loudly below if another takes it first.
free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    listening "$port" || { echo "$port"; return; }
  done
  fail "found no free loopback port"
}

# Waits for the service logging to $1 (process $2) to listen and prints its port.
service_port() {
  until grep -q "listening on" "$1"; do
    kill -0 "$2" 2>/dev/null || { cat "$1" >&2; fail "a service did not start"; }
    sleep 0.1
  done
  sed -n 's|.*listening on https://[^/]*:\([0-9]*\)/.*|\1|p' "$1"
}

# Answers with status 200 in the log of instance $1.
served() {
  grep -c ' 200 in=' "$work/$1.log" || true
}

# Posts the sentence $requests times from $threads threads into folder $work/RUN, printing one
# line "N CODE MS" per answer: post_requests RUN.
post_requests() {
  mkdir "$work/$1"
  exec build-deploy/bench/quorel_bench_speech_threads "$work/speech.wav" "$key" "$work/$1" \
    "$requests" "$threads" >"$work/$1.lines"
}

# Every request of run $1 answered with success and the sentence.
check_answers() {
  local succeeded wrong
  succeeded=$(awk '$2 == 999' "$work/$1.lines" | wc -l)
  [ "$succeeded" -eq "$requests" ] || fail "$1: $succeeded of $requests requests succeeded;" \
    "codes: $(cut -d' ' -f2 "$work/$1.lines" | sort | uniq -c | tr '\n' ' ')"
  mapfile -t wrong < <(grep -L -F "\"transcript\":\"$sentence\"" "$work/$1"/*.json)
  [ ${#wrong[@]} -eq 0 ] || fail "$1: ${#wrong[@]} answers without the sentence; the first:" \
    "$(tr -s '\n ' ' ' <"${wrong[0]}" | head -c 300)"
}

milliseconds() {
  echo $(($(date +%s%N) / 1000000))
}

# Median and longest time of run $1's requests, in ms.
latencies() {
  cut -d' ' -f3 "$work/$1.lines" | sort -n |
    awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)], t[NR] }'
}

started=$SECONDS
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs" --target quorel-service >/dev/null

# The unit, as systemd reads it (no running systemd needed): no warning, and an exposure of at
# most 2.0 of 10 by systemd's own measure.
if command -v systemd-analyze >/dev/null; then
  root=$work/root
  mkdir -p "$root/etc/systemd/system" "$root/usr/lib/systemd" "$root/usr/local/bin"
  cp -a /lib/systemd/system "$root/usr/lib/systemd/"
  cp "$unit" "$root/etc/systemd/system/"
  cp build/service/quorel-service "$root/usr/local/bin/"
  if ! warnings=$(systemd-analyze verify --root="$root" quorel-service@8443.service 2>&1) ||
    [ -n "$warnings" ]; then
    fail "$unit: $warnings"
  fi
  exposure=$(systemd-analyze security --offline=yes --root="$root" --threshold=20 \
    quorel-service@8443.service | tail -n 1) || fail "$unit: $exposure"
  echo "deploy-check: $unit verified; ${exposure#→ }"
else
  echo "deploy-check: [ SKIP ] no systemd-analyze: $unit not verified"
fi

espeak-ng -v en-us+klatt -s 175 -w "$work/spoken.wav" "$sentence"
sox "$work/spoken.wav" -r 16000 -c 1 -b 16 "$work/speech.wav"

for instance in a b; do
  build/service/quorel-service --key "$key" --port 0 --threads 1 --grammar "$grammar" \
    --state-dir "$work/$instance" >"$work/$instance.log" 2>&1 &
  service_pid[$instance]=$!
done
port_a=$(service_port "$work/a.log" "${service_pid[a]}")
port_b=$(service_port "$work/b.log" "${service_pid[b]}")

# Clients see instance a's localhost certificate; nginx trusts both instances' authorities.
tls=$work/tls
mkdir "$tls"
cp "$work/a/localhost.pem" "$tls/certificate.pem"
cp "$work/a/localhost-key.pem" "$tls/private-key.pem"
cat "$work/a/authority.pem" "$work/b/authority.pem" >"$tls/instance-authorities.pem"

# The deployed file with this machine's ports and folders in place of the example's.
port=$(free_port)
folder=$work/nginx
mkdir "$folder"
sed -e "s|listen 443 ssl;|listen 127.0.0.1:$port ssl;|" -e '/listen \[::\]:443 ssl;/d' \
  -e "s|server 127.0.0.1:8443 |server 127.0.0.1:$port_a |" \
  -e "s|server 127.0.0.1:8444 |server 127.0.0.1:$port_b |" \
  -e "s|/etc/nginx/quorel-service/|$tls/|g" -e "s|/var/log/nginx/|$folder/|g" \
  "$site_config" >"$folder/site.conf"
if sed 's/#.*//' "$folder/site.conf" | grep -E '/etc/|/var/|:844[34] |listen (443|\[)' >&2; then
  fail "$site_config no longer has the lines this check replaces"
fi
cat >"$folder/nginx.conf" <<EOF
worker_processes 1;
pid $folder/nginx.pid;
error_log $folder/error.log;
events { worker_connections 512; }
http {
  client_body_temp_path $folder/body;
  proxy_temp_path $folder/proxy;
  fastcgi_temp_path $folder/fastcgi;
  uwsgi_temp_path $folder/uwsgi;
  scgi_temp_path $folder/scgi;
  include $folder/site.conf;
}
EOF
nginx -p "$folder" -c "$folder/nginx.conf" -g "daemon off;" 2>"$folder/stderr.log" &
nginx_pid=$!
# nginx writes its PID file once it has bound its port, and exits when it cannot.
until [ "$(cat "$folder/nginx.pid" 2>/dev/null)" = "$nginx_pid" ]; do
  kill -0 "$nginx_pid" 2>/dev/null || {
    nginx_pid=""
    cat "$folder/stderr.log" >&2
    fail "nginx did not start on 127.0.0.1:$port"
  }
  sleep 0.1
done

# The library names its service when it is built: nginx's port, trusting instance a's authority.
cp "$work/a/authority.pem" "$tls/authority.pem"
cmake -S . -B build-deploy -DQUOREL_BUILD_TESTS=OFF -DQUOREL_BUILD_SERVICE=OFF \
  -DQUOREL_BUILD_TOOL=OFF -DQUOREL_SERVICE_PORT="$port" -DQUOREL_CA_FILE="$tls/authority.pem" \
  >/dev/null
cmake --build build-deploy -j"$jobs" --target quorel_bench_speech_threads >/dev/null
built=$SECONDS

# Both instances up: every answer right, both served.
begun=$(milliseconds)
(post_requests both)
both_ms=$(($(milliseconds) - begun))
check_answers both
served_a=$(served a)
served_b=$(served b)
if [ "$served_a" -eq 0 ] || [ "$served_b" -eq 0 ]; then
  fail "both: instance a served $served_a, instance b $served_b; both should have"
fi
echo "deploy-check: $requests requests from $threads threads through nginx on port $port:" \
  "all answered \"$sentence\" in $both_ms ms; instance a served $served_a, b $served_b;" \
  "median, longest: $(latencies both | sed 's/ / ms, /') ms"

# Instance b killed mid-run: every request still answered.
begun=$(milliseconds)
: >"$work/one-killed.lines"
(post_requests one-killed) &
driver_pid=$!
until [ "$(wc -l <"$work/one-killed.lines")" -ge "$kill_after" ]; do
  kill -0 "$driver_pid" 2>/dev/null || fail "the requests ended before instance b was killed"
  sleep 0.02
done
# Out of the shell's jobs first, so that it prints no "Killed" notice of its own.
disown "${service_pid[b]}"
kill -KILL "${service_pid[b]}"
answered_at_kill=$(wc -l <"$work/one-killed.lines")
while kill -0 "${service_pid[b]}" 2>/dev/null; do sleep 0.01; done
unset 'service_pid[b]'
wait "$driver_pid" || true
driver_pid=""
killed_ms=$(($(milliseconds) - begun))
check_answers one-killed
after_kill=$((requests - answered_at_kill))
[ "$after_kill" -gt 0 ] || fail "one-killed: every request was answered before the kill"
# nginx names every instance it tried for a request: "a, b".
retried=$(grep -c 'upstream=[^ ]*, ' "$folder/quorel-service.access.log" || true)
echo "deploy-check: $requests more, instance b killed after $answered_at_kill answers: all" \
  "answered \"$sentence\" in $killed_ms ms, $after_kill of them after the kill, $retried sent" \
  "again to a after b failed; median, longest: $(latencies one-killed | sed 's/ / ms, /') ms"
echo "deploy-check: passed in $((SECONDS - started)) s" \
  "($((built - started)) s building and starting)"
