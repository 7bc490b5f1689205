#!/usr/bin/env bash
# The load test: builds the release tree (nuva-server, nuva_load and the
# components), starts nuva-server on a free loopback port with an echo type
# code (compressed and encrypted both ways), runs N client processes x M
# transactions against it, stops the server and prints the figures.
#
#   bench/load_test.sh [CLIENTS [TRANSACTIONS [ITEMS [ITEM_SIZE]]]]   default 16 100 10 2048
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
clients=${1:-16} transactions=${2:-100} items=${3:-10} size=${4:-2048}

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target nuva-server nuva_load NuvaNet NuvaCA >/dev/null

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
<TYPE><CODE>LOAD</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS></TYPE></SERVER>
XML
build/release/bin/nuva-server --config "$work/server.xml" --port 0 --port-file "$work/port" \
  >"$work/server.log" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.err"; exit 1; }

echo "== $(nproc) processors; nuva-server on port $(cat "$work/port")"
set +e
build/release/bin/nuva_load --url "http://127.0.0.1:$(cat "$work/port")" --key-file "$work/key.hex" \
  --work "$work/clients" --clients "$clients" --transactions "$transactions" --items "$items" \
  --item-size "$size"
status=$?
set -e
kill -TERM "$server_pid"; wait "$server_pid" || true; server_pid=
echo "server: $(grep -c ' status=200 ok ' "$work/server.log") transactions answered 200, $(grep -vc ' status=200 ok ' "$work/server.log") otherwise"
exit $status
