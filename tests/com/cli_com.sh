#!/bin/sh
# cli_com.sh RUNNER NUVA DIR DIR_NATIVE: nuva init, testconn and send through
# the library's COM server, --com and --late, with the test components
# (found beside nuva). RUNNER starts a program of the build (wine-run.sh, or
# env natively); DIR_NATIVE is DIR as the program sees it.
set -u
runner=$1 nuva=$2 dir=$3 native=$4
case "$native" in
  [A-Za-z]:*) sep='\' windows=1 ;;
  *) sep=/ windows=0 ;;
esac
rm -rf "$dir" && mkdir -p "$dir" || exit 1
cat >"$dir/config.xml" <<XML
<CONFIG><SEND_FILE_PATH>$native${sep}send</SEND_FILE_PATH><RECEIVE_FILE_PATH>$native${sep}recv</RECEIVE_FILE_PATH><NETWORK_COMPONENT>TestNet.dll</NETWORK_COMPONENT><CA_COMPONENT>TestCA.dll</CA_COMPONENT><NETWORK><INIT_MSG>net;</INIT_MSG><TESTCONN_MSG>reachable</TESTCONN_MSG><POST_PROGRESS>50</POST_PROGRESS></NETWORK><CA></CA></CONFIG>
XML
printf '%s' '<?xml version="1.0" encoding="UTF-8"?><PDU><SENDER>CLICOM</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE><CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT></PDU>' >"$dir/request.xml"

failed=0
# expect NAME EXIT PATTERN COMMAND...: the command's exit code and a line of
# its output (standard output and error, carriage returns dropped).
expect() {
  name=$1 code=$2 pattern=$3
  shift 3
  "$runner" "$@" >"$dir/$name.out" 2>&1
  rc=$?
  tr -d '\r' <"$dir/$name.out" >"$dir/$name.log"
  if [ $rc -ne "$code" ] || ! grep -q -- "$pattern" "$dir/$name.log"; then
    echo "FAILED $name: exit $rc (expected $code), output:"
    cat "$dir/$name.log"
    failed=1
  else
    echo "ok $name"
  fi
}

config="$native${sep}config.xml"
request="$native${sep}request.xml"
if [ $windows = 1 ]; then
  # Not registered: a clean refusal that says what to do.
  "$runner" "$nuva" register --unregister >/dev/null 2>&1
  expect unregistered 2 "nuva register" "$nuva" init --com --config "$config"
  expect register 0 "^registered" "$nuva" register
fi
for mode in com late; do
  expect "init_$mode" 0 "Init: ok" "$nuva" init --$mode --config "$config"
  expect "testconn_$mode" 0 "TestConn: ok" "$nuva" testconn --$mode --config "$config"
  expect "send_$mode" 0 "100% " "$nuva" send --$mode --config "$config" --request "$request" \
    --reply "$native${sep}reply_$mode.xml"
  if ! grep -q '<CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT>' "$dir/reply_$mode.xml"; then
    echo "FAILED send_$mode: the reply lacks the item"
    failed=1
  fi
done
expect home_refused 2 "action.ini" "$nuva" send --com --config "$config" --request "$request" --home "$native"
if [ $windows = 1 ]; then
  expect unregister 0 "^unregistered" "$nuva" register --unregister
else
  expect register_elsewhere 2 "register the library themselves" "$nuva" register
fi
exit $failed
