#!/usr/bin/env bash
# One real transaction on this machine, end to end: nuva-server on a free
# loopback port, then `nuva send` with the real components (NuvaNet over
# HTTP, NuvaCA with AES-256-GCM) and a request of Chinese (GBK) items; it
# shows the progress, the reply PDU (in UTF-8) and the final message, stops
# the server and removes what it made.
#
#   scripts/demo.sh            the native build (release tree, built when missing or stale)
#   scripts/demo.sh --windows  nuva.exe and the Windows components (win64 tree) under
#                              Wine, talking to the same native server
#   scripts/demo.sh [--windows] --com
#                              through the library's COM object, as a business
#                              application calls it (registered for the run; action.ini
#                              then lies beside nuva for the run)
#
# On a fresh Debian 12 machine, as root, it installs what the build needs first
# (scripts/deps.sh: --native only for the native demo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

windows=0
# How nuva reaches the engine: directly, or through the COM object (--com).
via=()
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    --com) via=(--com) ;;
    *) echo "usage: scripts/demo.sh [--windows] [--com]" >&2; exit 2 ;;
  esac
done
com=${#via[@]}
jobs=$(nproc)
say() { printf '\n== %s\n' "$*"; }

# Builds TARGETS in build/PRESET when a target's file is missing or older
# than the sources.
build_tree() {
  local preset=$1; shift
  local stale=0 file
  for file in "$@"; do
    [ -e "build/$preset/bin/$file" ] || stale=1
    [ $stale = 1 ] || [ -z "$(find src tools components server cmake CMakeLists.txt -newer "build/$preset/bin/$file" -print -quit)" ] || stale=1
  done
  [ $stale = 1 ] || return 0
  say "building the $preset tree (${*})"
  cmake --preset "$preset" >"build/$preset.demo-configure.log" 2>&1 ||
    { tail -20 "build/$preset.demo-configure.log"; exit 1; }
  local targets=()
  for file in "$@"; do file=${file%.exe}; targets+=("${file%.dll}"); done
  cmake --build --preset "$preset" -j "$jobs" --target "${targets[@]}" >"build/$preset.demo-build.log" 2>&1 ||
    { grep -E 'error|Error' "build/$preset.demo-build.log" | head -20; tail -3 "build/$preset.demo-build.log"; exit 1; }
}

mkdir -p build
if [ $windows = 1 ]; then
  bash scripts/deps.sh
else
  bash scripts/deps.sh --native
fi
library=()
[ $com = 0 ] || library=(DuredaVevuvavizuriz_NUVA.dll)
if [ $windows = 1 ]; then
  build_tree release nuva-server
  build_tree win64 nuva.exe NuvaNet.dll NuvaCA.dll "${library[@]}"
  bin=build/win64/bin
  nuva=(build/win64/wine-run.sh "$bin/nuva.exe")
else
  build_tree release nuva-server nuva NuvaNet.dll NuvaCA.dll "${library[@]}"
  bin=build/release/bin
  nuva=("$bin/nuva")
fi

work=$(mktemp -d /tmp/nuva-demo.XXXXXX)
server_pid=
registered=0
# Through the COM object the library reads action.ini beside the host
# program: the demo's goes there for the run, and what was there comes back.
ini="$work/action.ini"
if [ $com = 1 ]; then
  ini="$bin/action.ini"
  [ -e "$ini" ] && mv "$ini" "$work/action.ini.saved"
fi
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid"; wait "$server_pid" || true
  fi
  if [ $registered = 1 ]; then "${nuva[@]}" register --unregister >/dev/null 2>&1 || true; fi
  if [ $com = 1 ]; then
    rm -f "$ini"
    [ -e "$work/action.ini.saved" ] && mv "$work/action.ini.saved" "$ini"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Output of the client as UTF-8: a Windows console program writes GBK.
to_utf8() {
  if [ $windows = 1 ]; then tr -d '\r' | iconv -f GBK -t UTF-8; else cat; fi
}

# Paths as the client names them: Wine sees the Linux root as drive Z:.
client_path() {
  if [ $windows = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

say "starting nuva-server in $work"
od -An -tx1 -N32 /dev/urandom | tr -d ' \n' >"$work/key.hex"
cat >"$work/server.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<SERVER>
  <DATA_DIR>$work/server</DATA_DIR>
  <CA><KEY_FILE>$work/key.hex</KEY_FILE></CA>
  <TYPE><CODE>0001</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS></TYPE>
</SERVER>
XML
build/release/bin/nuva-server --config "$work/server.xml" --port 0 --port-file "$work/port" \
  >"$work/server.log" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.err"; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")"
echo "listening on $url"

# The host's side: the configuration, action.ini (compress and encrypt type
# 0001) and a request PDU in GBK.
cat >"$work/config.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<CONFIG>
  <SEND_FILE_PATH>$(client_path "$work/send")</SEND_FILE_PATH>
  <RECEIVE_FILE_PATH>$(client_path "$work/recv")</RECEIVE_FILE_PATH>
  <NETWORK_COMPONENT>NuvaNet.dll</NETWORK_COMPONENT>
  <CA_COMPONENT>NuvaCA.dll</CA_COMPONENT>
  <NETWORK><URL>$url</URL><CONNECT_TIMEOUT>5000</CONNECT_TIMEOUT><RECEIVE_TIMEOUT>30000</RECEIVE_TIMEOUT></NETWORK>
  <CA><KEY_FILE>$(client_path "$work/key.hex")</KEY_FILE></CA>
</CONFIG>
XML
printf '[0001]\r\nhas_body=1\r\nis_compress=1\r\nis_crypt=1\r\n' >"$ini"
iconv -f UTF-8 -t GBK >"$work/request.xml" <<'XML'
<?xml version="1.0" encoding="GBK"?><PDU><SENDER>营业部01</SENDER><TYPE_CODE>0001</TYPE_CODE><RESERVE>演示</RESERVE><CONTENT><NAME>客户信息.txt</NAME><VALUE>姓名:张三
开户行:北京分行
账号:6222 0000 1234 5678</VALUE></CONTENT><CONTENT><NAME>交易明细.csv</NAME><VALUE>日期,摘要,金额
2025-01-02,工资,8500.00
2025-01-05,房租,-3200.00</VALUE></CONTENT></PDU>
XML

args=(send "${via[@]}" --config "$(client_path "$work/config.xml")"
      --request "$(client_path "$work/request.xml")" --reply "$(client_path "$work/reply.xml")")
if [ $com = 1 ]; then
  if [ $windows = 1 ]; then
    say "registering the library (nuva register)"
    "${nuva[@]}" register | to_utf8
    registered=1
  fi
else
  args+=(--home "$(client_path "$work")")
fi
say "nuva send${via[*]:+ ${via[*]}} (request: 2 items, compressed and encrypted)"
set +e
if [ $windows = 1 ] && [ ! -t 2 ]; then
  # Progress lines to a pipe are GBK too (on a terminal Wine converts them).
  "${nuva[@]}" "${args[@]}" 2> >(to_utf8 >&2) | to_utf8 >"$work/message.txt"
else
  "${nuva[@]}" "${args[@]}" | to_utf8 >"$work/message.txt"
fi
status=${PIPESTATUS[0]}
set -e

if [ -s "$work/reply.xml" ]; then
  say "reply PDU"
  iconv -f GBK -t UTF-8 "$work/reply.xml" | sed 's/<CONTENT>/\n  <CONTENT>/g; s/<\/PDU>/\n<\/PDU>/'
  echo
fi
say "message"
cat "$work/message.txt"
say "server log"
cat "$work/server.log"
kill -TERM "$server_pid"; wait "$server_pid" || true
server_pid=
exit "$status"
