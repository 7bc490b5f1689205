#!/usr/bin/env bash
# Runs a test program against hostile_peer.py on a free loopback port, named
# to the program as NUVA_IT_HOSTILE_URL. Without python3 the program runs
# without it (its tests skip) and the script exits 77: ctest counts a skip.
#
#   with-hostile-peer.sh -- PROGRAM [ARGS...]
set -uo pipefail
shift
peer="$(dirname "$0")/hostile_peer.py"
if ! command -v python3 >/dev/null; then
  echo "with-hostile-peer.sh: no python3: the program runs without the peer"
  "$@"
  rc=$?
  [ $rc = 0 ] && exit 77
  exit $rc
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/nuva-peer-XXXXXX")
python3 "$peer" "$dir/port" &
peer_pid=$!
trap 'kill $peer_pid 2>/dev/null; wait $peer_pid 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 100); do
  [ -s "$dir/port" ] && break
  sleep 0.1
done
if [ ! -s "$dir/port" ]; then
  echo "with-hostile-peer.sh: the peer did not start"
  exit 1
fi
NUVA_IT_HOSTILE_URL="http://127.0.0.1:$(cat "$dir/port")" "$@"
exit $?
