#!/usr/bin/env bash
# The one test command. Installs what is missing (Debian 12), builds the
# native tree with ASan/UBSan, a ThreadSanitizer tree and the Windows trees,
# runs the native suite, the threaded suites under ThreadSanitizer and
# the Windows suite under Wine (code page 936), checks that the 32-bit
# binaries import only system DLLs and the library's exports, installs the
# library as a Windows host would (regsvr32, nuva register, nuva send --com),
# runs the i686 suite under 32-bit Wine where the machine runs 32-bit
# programs (else counts those checks as skipped), and ends with "N passed,
# N failed, N skipped".
#
#   scripts/test.sh            everything
#   NUVA_JOBS=4 scripts/test.sh
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${NUVA_JOBS:-$(nproc)}
status=0
note() { printf '== %s\n' "$*"; }

bash scripts/deps.sh || { echo "dependency installation failed"; exit 1; }

# A fresh Wine prefix for every run (Wine may register what it loads) takes
# seconds to create: start it, with the environment the tests run in
# (build/win64/wine-run.sh, written by the configure step), while the trees
# build.
mkdir -p build
prefix="$root/build/win64/wineprefix"
wineboot_pid=
if cmake --preset win64 >build/win64.configure.log 2>&1; then
  (
    WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
    rm -rf "$prefix"
    NUVA_WINE_TIMEOUT=300 build/win64/wine-run.sh wineboot -i >/dev/null 2>&1
    WINEPREFIX="$prefix" timeout 120 wineserver -w >/dev/null 2>&1
  ) &
  wineboot_pid=$!
fi

build() {
  local preset=$1
  note "build $preset"
  cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 &&
    cmake --build --preset "$preset" -j "$jobs" >"build/$preset.build.log" 2>&1 ||
    { echo "build $preset failed:"; grep -E 'error|Error' "build/$preset.configure.log" "build/$preset.build.log" | head -40; return 1; }
}

built_dev=0; built_win64=0; built_win32=0; built_tsan=0
build dev && built_dev=1 || status=1
build win64 && built_win64=1 || status=1
build win32 && built_win32=1 || status=1
build tsan && built_tsan=1 || status=1

rm -rf build/dev/test-results build/win64/test-results build/win32/test-results build/tsan/test-results
extra_failed=0
extra_passed=0
extra_skipped=0
check_passed() { echo "$*"; extra_passed=$((extra_passed + 1)); }
check_failed() { echo "FAILED: $*"; status=1; extra_failed=$((extra_failed + 1)); }

# A Windows host's installation of the library of build TREE, for real:
# regsvr32 writes the class (and regsvr32 /u takes it away), nuva register
# installs the host's type library and the library, and nuva send --com runs
# a whole transaction through the ISender vtable with the test components.
# Two checks; in the tree's own Wine prefix (32-bit for win32).
com_host_checks() {
  local tree=$1 label=$2
  local run="build/$tree/wine-run.sh" bin="$root/build/$tree/bin" dir="$root/build/$tree/com-host"
  local wbin="Z:${bin//\//\\}" wdir="Z:${dir//\//\\}"
  local dll="$wbin\\DuredaVevuvavizuriz_NUVA.dll"
  local clsid='HKCR\CLSID\{9A0CECE0-90A4-40E6-BE3F-382306EAFA72}'
  rm -rf "$dir" && mkdir -p "$dir"
  "$run" regsvr32 /s "$dll"; local reg_rc=$?
  "$run" reg query "$clsid\\InprocServer32" /ve 2>&1 | tr -d '\r' >"$dir/inproc.txt"
  "$run" regsvr32 /u /s "$dll"; local unreg_rc=$?
  if [ $reg_rc = 0 ] && [ $unreg_rc = 0 ] && grep -qF "$dll" "$dir/inproc.txt" &&
     ! "$run" reg query "$clsid" >/dev/null 2>&1; then
    check_passed "$label regsvr32: registers $dll and removes it again"
  else
    check_failed "$label regsvr32 (exit $reg_rc, /u exit $unreg_rc): $(cat "$dir/inproc.txt")"
  fi
  printf '%s' "<CONFIG><SEND_FILE_PATH>$wdir\\send</SEND_FILE_PATH><RECEIVE_FILE_PATH>$wdir\\recv</RECEIVE_FILE_PATH><NETWORK_COMPONENT>TestNet.dll</NETWORK_COMPONENT><CA_COMPONENT>TestCA.dll</CA_COMPONENT><NETWORK></NETWORK><CA></CA></CONFIG>" >"$dir/config.xml"
  printf '%s' '<?xml version="1.0" encoding="GBK"?><PDU><SENDER>HOST</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE><CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT></PDU>' >"$dir/request.xml"
  "$run" "$bin/nuva.exe" register >"$dir/register.log" 2>&1 &&
    "$run" "$bin/nuva.exe" send --com --config "$wdir\\config.xml" --request "$wdir\\request.xml" \
      --reply "$wdir\\reply.xml" >"$dir/send.log" 2>&1
  local send_rc=$?
  "$run" "$bin/nuva.exe" register --unregister >>"$dir/register.log" 2>&1
  if [ $send_rc = 0 ] && grep -q '<CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT>' "$dir/reply.xml" 2>/dev/null; then
    check_passed "$label nuva send --com: a whole transaction through the registered library"
  else
    check_failed "$label nuva send --com: see $dir/register.log and $dir/send.log"
  fi
}
# The MSI packages installed and removed, and a script host (cscript).
. scripts/windows-install-checks.sh
if [ $built_dev = 1 ]; then
  note "native tests (ASan/UBSan)"
  ctest --preset dev -j "$((jobs > 8 ? jobs : 8))" >build/dev.test.log 2>&1 || { status=1; tail -n 30 build/dev.test.log; }
  grep -E 'tests passed|tests failed' build/dev.test.log
fi
# The worker threads' code under ThreadSanitizer: the engine, archive, codec
# and worker pool suites. Without address randomisation: some kernels
# randomise more address bits than this compiler's sanitizer can map around.
if [ $built_tsan = 1 ]; then
  note "ThreadSanitizer: engine, archive, codec and worker pool tests"
  setarch "$(uname -m)" -R ctest --preset tsan -j "$jobs" >build/tsan.test.log 2>&1 ||
    { status=1; grep -E -A 12 'WARNING: ThreadSanitizer|FATAL' build/tsan.test.log | head -60; tail -n 30 build/tsan.test.log; }
  grep -E 'tests passed|tests failed' build/tsan.test.log
fi
[ -n "$wineboot_pid" ] && wait "$wineboot_pid" 2>/dev/null
if [ $built_win64 = 1 ]; then
  note "Windows tests under Wine"
  ctest --preset win64 -j "$jobs" >build/win64.test.log 2>&1 || { status=1; tail -n 30 build/win64.test.log; }
  grep -E 'tests passed|tests failed' build/win64.test.log
  note "the x86-64 library installed as a Windows host installs it"
  com_host_checks win64 x86-64
  windows_install_checks win64 x86-64
  [ $built_win32 = 1 ] && msi_package_checks win32 i686  # the x86 package's tables
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
fi

# The compressor's output over the benchmark corpus, every file at every
# level: the native build (one compressor for all files) and the Windows
# build under Wine (a fresh one per file) must write the same bytes. Needs
# the corpus generator beside the project; skipped with a message without it.
shared=$(sed -n 's/^NUVA_SHARED_DIR:PATH=//p' build/dev/CMakeCache.txt 2>/dev/null)
if [ $built_dev = 1 ] && [ $built_win64 = 1 ] && [ -f "$shared/bench/make_corpus.sh" ]; then
  note "deflate determinism over the corpus (native vs Wine)"
  corpus="$root/build/corpus"
  if [ ! -f "$corpus/.complete" ]; then
    rm -rf "$corpus"
    bash "$shared/bench/make_corpus.sh" "$corpus" >build/corpus.log 2>&1 && touch "$corpus/.complete"
  fi
  # Only the digests are compared: what Wine or its background processes
  # print on stderr goes to a file of its own.
  build/dev/bin/deflate_digests "$corpus" >build/digests.native.txt 2>build/digests.native.err &
  native_pid=$!
  build/win64/wine-run.sh build/win64/bin/deflate_digests.exe "Z:${corpus//\//\\}" --fresh \
    2>build/digests.wine.err | tr -d '\r' >build/digests.wine.txt
  wine_rc=${PIPESTATUS[0]}
  wait $native_pid; native_rc=$?
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  lines=$(grep -c '^L' build/digests.native.txt)
  if [ $native_rc = 0 ] && [ $wine_rc = 0 ] && [ "$lines" -gt 0 ] && cmp -s build/digests.native.txt build/digests.wine.txt; then
    echo "$lines digests (file and level) equal on both builds"; extra_passed=$((extra_passed + 1))
  else
    echo "deflate digests differ or failed (exit $native_rc native, $wine_rc Wine): see build/digests.{native,wine}.{txt,err}"
    diff build/digests.native.txt build/digests.wine.txt | head -10
    tail -5 build/digests.native.err build/digests.wine.err
    status=1; extra_failed=$((extra_failed + 1))
  fi
  # And the same bytes as the committed reference: the compressor's output
  # never changes. text_en.txt and elf_cmake.bin (and the small files cut
  # from them) come from installed packages; their lines are compared only
  # when the corpus matches the generator's reference hashes.
  expected=tests/tools/deflate_digests.expected
  if (cd "$corpus" && sha256sum --quiet -c "$shared/bench/corpus.sha256" >/dev/null 2>&1); then
    compared=$(cat "$expected")
  else
    echo "note: the corpus differs from $shared/bench/corpus.sha256: only the generated files' digests are compared"
    compared=$(grep -v -e text_en -e elf_cmake -e 'small/' "$expected")
  fi
  if [ $native_rc = 0 ] && diff <(echo "$compared") <(grep -F -x -f <(echo "$compared") build/digests.native.txt) >/dev/null; then
    echo "$(echo "$compared" | wc -l) digests equal to $expected"; extra_passed=$((extra_passed + 1))
  else
    echo "deflate output changed: build/digests.native.txt differs from $expected"
    diff "$expected" build/digests.native.txt | head -10
    status=1; extra_failed=$((extra_failed + 1))
  fi
else
  echo "deflate determinism over the corpus skipped: no $shared/bench/make_corpus.sh or a build failed"
fi

# The 32-bit binaries import only system DLLs (whether or not they run here).
if [ -d build/win32 ]; then
  note "win32 imports"
  # CMakeFiles holds the compiler checks' programs, and the prefix Wine's own
  # programs: not ours.
  bad=$(find build/win32 -maxdepth 4 \( -name CMakeFiles -o -name wineprefix \) -prune -o \( -name '*.exe' -o -name '*.dll' \) -print0 |
    xargs -0 -r -n1 i686-w64-mingw32-objdump -p 2>/dev/null | sed -n 's/^\s*DLL Name: //p' | sort -u |
    grep -viE '^(kernel32|user32|advapi32|ole32|oleaut32|shell32|msvcrt|gdi32|ws2_32|uuid|comdlg32|version|shlwapi|winhttp|bcrypt|crypt32)\.dll$')
  if [ -n "$bad" ]; then
    echo "win32 binaries import non-system DLLs: $bad"; status=1; extra_failed=$((extra_failed + 1))
  else
    echo "win32 binaries import only system DLLs"; extra_passed=$((extra_passed + 1))
  fi
fi

# The product's entry points in both Windows builds: exactly the four,
# undecorated (i686 needs --enable-stdcall-fixup for that), and nothing but
# system DLLs imported.
note "DuredaVevuvavizuriz_NUVA.dll exports and imports"
for build in win64:x86_64 win32:i686; do
  tree=${build%%:*}
  dll=build/$tree/bin/DuredaVevuvavizuriz_NUVA.dll
  dump=$(${build#*:}-w64-mingw32-objdump -p "$dll" 2>/dev/null)
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$dump" | sort | tr '\n' ' ')
  foreign=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | grep -viE '^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt)\.dll$' | tr '\n' ' ')
  if [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] &&
     [ -z "$foreign" ] && grep -q 'DLL Name' <<<"$dump"; then
    check_passed "$tree: exports $exports, imports system DLLs only"
  else
    check_failed "$dll: exports [$exports], other imports [$foreign]"
  fi
done

# Most business applications are 32-bit: the i686 library is the product for
# most users. Where this machine runs 32-bit programs (probed with a
# three-instruction static program), the i686 suite runs under 32-bit Wine
# in a 32-bit prefix, and the library is installed as a 32-bit host installs
# it. The 32-bit Wine is the distribution's multiarch package where it is or
# can be installed, else a pure i386 userland (scripts/i386-root.sh, made once
# and kept outside the tree) entered with chroot, with the tree, ../shared
# and /tmp mounted at the same paths and every mount undone on every way out.
# Only a kernel that refuses 32-bit programs makes the tier "skipped"; a tier
# that could have run and did not fails, with its cause.
runs_32bit() {
  local probe
  probe=$(mktemp -d) || return 1
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' >"$probe/p.s"
  as --32 "$probe/p.s" -o "$probe/p.o" 2>/dev/null && ld -m elf_i386 "$probe/p.o" -o "$probe/p" 2>/dev/null &&
    "$probe/p" 2>/dev/null
  local rc=$?
  rm -rf "$probe"
  return $rc
}
i386_root=$(bash scripts/i386-root.sh path)
wine32_mode=      # host: wine32:i386 installed; chroot: the i386 userland
wine32_why=
multiarch_wine32() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  local added=0
  dpkg --print-foreign-architectures | grep -qx i386 || { $sudo dpkg --add-architecture i386 && added=1; }
  if $sudo apt-get update -qq >build/wine32.apt.log 2>&1 &&
     DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends wine32:i386 \
       >>build/wine32.apt.log 2>&1; then
    return 0
  fi
  # Leave the host's package lists as they were: an i386 index that does not
  # download would make every later apt-get update fail.
  if [ $added = 1 ]; then
    $sudo dpkg --remove-architecture i386 2>/dev/null && $sudo apt-get update -qq >/dev/null 2>&1
  fi
  return 1
}
ensure_wine32() {
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' &&
     [ -x /usr/lib/wine/wine ]; then
    wine32_mode=host; return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    wine32_why="32-bit Wine is not installed, and installing it needs root"; return 1
  fi
  if [ ! -f "$i386_root/.complete" ]; then
    echo "installing 32-bit Wine (wine32:i386)"
    if multiarch_wine32 && [ -x /usr/lib/wine/wine ]; then wine32_mode=host; return 0; fi
    echo "wine32:i386 does not install here ($(grep -m1 -E '^(E|W):' build/wine32.apt.log)); making an i386 userland"
  fi
  if bash scripts/i386-root.sh ensure; then
    wine32_mode=chroot; return 0
  fi
  wine32_why="neither wine32:i386 nor the i386 userland at $i386_root could be installed"
  return 1
}
wine32_cleanup() {
  [ "$wine32_mode" = chroot ] && bash scripts/i386-root.sh umount
  wine32_mode=
}
# wineserver of the 32-bit prefix, where its Wine lives.
wineserver32() {
  if [ "$wine32_mode" = chroot ]; then
    WINEPREFIX="$prefix32" timeout 30 chroot "$i386_root" /usr/lib/wine/wineserver "$@"
  else
    WINEPREFIX="$prefix32" timeout 30 wineserver "$@"
  fi
}
win32_tree=
if [ $built_win32 = 1 ] && runs_32bit; then
  note "32-bit tier: the i686 build under 32-bit Wine"
  tier_start=$SECONDS
  if ensure_wine32; then
    if [ "$wine32_mode" = chroot ]; then
      trap 'wine32_cleanup' EXIT
      trap 'wine32_cleanup; exit 130' INT TERM
      mounts=("$root")
      [ -d "$shared" ] && mounts+=("$shared")
      bash scripts/i386-root.sh mount "${mounts[@]}"
      export NUVA_WINE_CHROOT="$i386_root"
      echo "32-bit Wine from the i386 userland at $i386_root"
    fi
    prefix32="$root/build/win32/wineprefix"
    wineserver32 -k >/dev/null 2>&1
    rm -rf "$prefix32"
    NUVA_WINE_TIMEOUT=300 build/win32/wine-run.sh wineboot -i >/dev/null 2>&1
    # Its cases are counted with the others' below.
    ctest --preset win32 -j "$jobs" >build/win32.test.log 2>&1 || { status=1; tail -n 30 build/win32.test.log; }
    grep -E 'tests passed|tests failed' build/win32.test.log
    win32_tree=build/win32
    com_host_checks win32 i686
    windows_install_checks win32 i686
    wineserver32 -k >/dev/null 2>&1 || true
    unset NUVA_WINE_CHROOT
    wine32_cleanup
    trap - EXIT INT TERM
    echo "32-bit tier: $((SECONDS - tier_start)) s"
  else
    check_failed "32-bit programs run here, but the 32-bit tier could not run: $wine32_why"
    extra_failed=$((extra_failed + 8))
  fi
elif [ $built_win32 = 1 ]; then
  echo "skipped: this machine's kernel does not run 32-bit programs: the i686 test suites,"
  echo "         the 32-bit regsvr32, nuva send --com and the x86 package's installation"
  echo "         checks did not run"
  extra_skipped=$((extra_skipped + 9))
else
  check_failed "the 32-bit tier could not run: the win32 build failed"
  extra_failed=$((extra_failed + 8))
fi

# Count test cases over the suites from the GoogleTest XML reports, plus the
# script's own checks above; a program that died without a report counts as
# one failure.
python3 - "$extra_failed" "$extra_passed" "$extra_skipped" build/dev build/tsan build/win64 $win32_tree <<'PY'
import glob, os, re, sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
failed += int(sys.argv[1])
passed += int(sys.argv[2])
skipped += int(sys.argv[3])
for tree in sys.argv[4:]:
    reported = set()
    for f in glob.glob(os.path.join(tree, "test-results", "*.xml")):
        reported.add(os.path.splitext(os.path.basename(f))[0])
        root = ET.parse(f).getroot()
        for case in root.iter("testcase"):
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped += 1
            else:
                passed += 1
    log = tree + ".test.log"
    if os.path.exists(log):
        for m in re.finditer(r"^\s*\d+ - (\S+) \(", open(log, errors="replace").read(), re.M):
            if m.group(1) not in reported:
                failed += 1
print(f"{passed} passed, {failed} failed, {skipped} skipped")
PY
exit $status
