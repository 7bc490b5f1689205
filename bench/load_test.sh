#!/usr/bin/env bash
# The load test: builds the release tree (nuva-server, nuva_load and the
# components), starts nuva-server on a free loopback port with an echo type
# code (compressed and encrypted both ways), runs N client processes x M
# transactions against it, stops the server and prints the figures; then
# the same load again while IDLE more connections trickle their request
# headers (held open: one the server closes is opened again).
#
#   bench/load_test.sh [CLIENTS [TRANSACTIONS [ITEMS [ITEM_SIZE [IDLE]]]]]   default 16 100 10 2048 1000
#
# All traffic stays on loopback. NUVA_LOAD_SERVER names another nuva-server
# program to measure (an older build, for a comparison).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
clients=${1:-16} transactions=${2:-100} items=${3:-10} size=${4:-2048} idle=${5:-1000}

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target nuva-server nuva_load NuvaNet NuvaCA >/dev/null

server=${NUVA_LOAD_SERVER:-build/release/bin/nuva-server}
work=$(mktemp -d /tmp/nuva-load.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then kill -TERM "$server_pid"; wait "$server_pid" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
od -An -tx1 -N32 /dev/urandom | tr -d ' \n' >"$work/key.hex"
cat >"$work/server.xml" <<XML
<SERVER><DATA_DIR>$work/server</DATA_DIR><CA><KEY_FILE>$work/key.hex</KEY_FILE></CA>
<MAX_CONNECTIONS>$((idle + clients + 256))</MAX_CONNECTIONS>
<MAX_CONNECTIONS_PER_CLIENT>$((idle + clients + 256))</MAX_CONNECTIONS_PER_CLIENT>
<TYPE><CODE>LOAD</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS></TYPE></SERVER>
XML
"$server" --config "$work/server.xml" --port 0 --port-file "$work/port" \
  >"$work/server.log" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.err"; exit 1; }

echo "== $(nproc) processors; nuva-server on port $(cat "$work/port"); load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for held in 0 "$idle"; do
  [ "$held" = 0 ] || echo "== the same while $held connections trickle their headers; load average $(cut -d' ' -f1-3 /proc/loadavg)"
  set +e
  build/release/bin/nuva_load --url "http://127.0.0.1:$(cat "$work/port")" --key-file "$work/key.hex" \
    --work "$work/clients-$held" --clients "$clients" --transactions "$transactions" --items "$items" \
    --item-size "$size" --idle "$held"
  run=$?
  set -e
  [ "$run" = 0 ] || status=$run
  [ "$idle" -gt 0 ] || break
done
kill -TERM "$server_pid"; wait "$server_pid" || true; server_pid=
echo "server: $(grep -c ' status=200 ok ' "$work/server.log") transactions answered 200, $(grep ' sender=' "$work/server.log" | grep -vc ' status=200 ok ') otherwise;" \
  "$(grep -c ' closed: ' "$work/server.log") connections closed at a deadline, $(grep -c ' refused: ' "$work/server.log") refused"
exit $status
