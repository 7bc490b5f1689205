#!/usr/bin/env bash
# Runs a test program against a nuva-server of its own: a fresh directory of
# a unique name under DIR (removed on every way out, so runs side by side
# never meet) with a key file and a server configuration (the type codes the
# transaction tests use), the server on a free loopback port, the program with the
# server's whereabouts in its environment, then a clean stop (SIGTERM) of the
# server, which must exit 0.
#
#   with-server.sh --server PATH --dir DIR [--wine] -- PROGRAM [ARGS...]
#
# The program sees NUVA_IT_URL (the server), NUVA_IT_DOWN_URL (a loopback
# port where nothing listens), NUVA_IT_KEY_FILE (the server's key) and
# NUVA_IT_DATA (its data directory), paths as the program names them (Z:\...
# with --wine); where the openssl program can make a certificate, also the
# same server over HTTPS: NUVA_IT_TLS_URL, NUVA_IT_TLS_CA (its certificate)
# and NUVA_IT_TLS_PIN (its key's pin). Without a server binary the program
# runs without them (its tests skip and say so in its results) and the
# script exits 77, which ctest counts as skipped, never as passed; a failure
# of the program is still its failure.
set -uo pipefail

server= dir= wine=0
while [ $# -gt 0 ]; do
  case "$1" in
    --server) server=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --wine) wine=1; shift ;;
    --) shift; break ;;
    *) echo "with-server.sh: unexpected $1" >&2; exit 2 ;;
  esac
done
[ -n "$dir" ] && [ $# -gt 0 ] || { echo "usage: with-server.sh --server PATH --dir DIR [--wine] -- PROGRAM..." >&2; exit 2; }

if [ ! -x "$server" ]; then
  echo "with-server.sh: no nuva-server at '$server': the program runs without a server"
  "$@"
  rc=$?
  [ $rc = 0 ] && exit 77
  exit $rc
fi

client_path() {
  if [ $wine = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

server_pid= tls_pid= parent=$dir dir=
cleanup() {
  for pid in $server_pid $tls_pid; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  [ -z "$dir" ] || rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$parent" && dir=$(mktemp -d "$parent/run.XXXXXX") && mkdir "$dir/data" ||
  { echo "with-server.sh: cannot make a run directory under $parent" >&2; exit 1; }
od -An -tx1 -N32 /dev/urandom | tr -d ' \n' >"$dir/key.hex"

{
  echo "<SERVER><DATA_DIR>$dir/data</DATA_DIR><CA><KEY_FILE>$dir/key.hex</KEY_FILE></CA>"
  # Letter: the request's flags (action.ini of the tests); digits: the reply's.
  for request in a b c d e; do
    for reply in 111 110 101 100 000; do
      echo "<TYPE><CODE>$request$reply</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>$reply</REPLY_FLAGS></TYPE>"
    done
  done
  cat <<'XML'
<TYPE><CODE>STOR</CODE><HANDLER>store</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS><RECEIPT_NAME>回执.txt</RECEIPT_NAME></TYPE>
<TYPE><CODE>REJ5</CODE><HANDLER>reject</HANDLER><STATUS>500</STATUS><MESSAGE>服务器内部错误</MESSAGE></TYPE>
<TYPE><CODE>SLOW</CODE><HANDLER>echo</HANDLER><DELAY_MS>3000</DELAY_MS></TYPE>
<TYPE><CODE>TRUN</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS><FAULT>truncate</FAULT></TYPE>
<TYPE><CODE>SHRT</CODE><HANDLER>echo</HANDLER><FAULT>short_header</FAULT></TYPE>
<TYPE><CODE>TAMP</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS><FAULT>tamper</FAULT></TYPE>
<TYPE><CODE>CUT</CODE><HANDLER>echo</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS><FAULT>cut</FAULT></TYPE>
<TYPE><CODE>EVIL</CODE><HANDLER>echo</HANDLER><REPLY_SENDER>../x</REPLY_SENDER></TYPE>
</SERVER>
XML
} >"$dir/server.xml"

"$server" --config "$dir/server.xml" --port-file "$dir/port" >"$dir/server.log" 2>"$dir/server.err" &
server_pid=$!
for _ in $(seq 100); do
  [ -s "$dir/port" ] && break
  kill -0 $server_pid 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$dir/port" ]; then
  echo "with-server.sh: nuva-server did not start:"; cat "$dir/server.err"
  exit 1
fi
port=$(cat "$dir/port")

# The same server over HTTPS, with a self-signed certificate for 127.0.0.1,
# where the openssl program is there to make one.
if command -v openssl >/dev/null &&
  (cd "$dir" && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
     -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -days 2 -keyout tls.key -out tls.pem &&
   openssl x509 -in tls.pem -pubkey -noout | openssl pkey -pubin -outform der |
     openssl dgst -sha256 -binary | base64 >tls.pin) >/dev/null 2>&1; then
  sed "s#</SERVER>#<TLS_CERT>$dir/tls.pem</TLS_CERT><TLS_KEY>$dir/tls.key</TLS_KEY></SERVER>#" \
    "$dir/server.xml" >"$dir/tls.xml"
  "$server" --config "$dir/tls.xml" --port-file "$dir/tls.port" >"$dir/tls.log" 2>"$dir/tls.err" &
  tls_pid=$!
  for _ in $(seq 100); do [ -s "$dir/tls.port" ] && break; sleep 0.1; done
  if [ -s "$dir/tls.port" ]; then
    export NUVA_IT_TLS_URL="https://127.0.0.1:$(cat "$dir/tls.port")"
    NUVA_IT_TLS_CA=$(client_path "$dir/tls.pem")
    NUVA_IT_TLS_PIN=$(cat "$dir/tls.pin")
    export NUVA_IT_TLS_CA NUVA_IT_TLS_PIN
  fi
fi
down_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

export NUVA_IT_URL="http://127.0.0.1:$port"
export NUVA_IT_DOWN_URL="http://127.0.0.1:$down_port"
NUVA_IT_KEY_FILE=$(client_path "$dir/key.hex")
NUVA_IT_DATA=$(client_path "$dir/data")
export NUVA_IT_KEY_FILE NUVA_IT_DATA
"$@"
status=$?

if [ -n "$tls_pid" ]; then kill -TERM $tls_pid; wait $tls_pid; tls_pid=; fi
kill -TERM $server_pid
wait $server_pid
server_status=$?
server_pid=
if [ $server_status -ne 0 ] || ! grep -q "nuva-server: stopped" "$dir/server.err"; then
  echo "with-server.sh: nuva-server did not stop cleanly (exit $server_status):"; tail -5 "$dir/server.err"
  status=1
fi
exit $status
