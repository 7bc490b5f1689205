#!/usr/bin/env bash
# The one test command. Installs what is missing (Debian 12), builds the
# native tree with ASan/UBSan and the Windows trees, runs the native suite and
# the Windows suite under Wine (code page 936), checks that the 32-bit
# binaries import only system DLLs, and ends with "N passed, N failed".
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

built_dev=0; built_win64=0
build dev && built_dev=1 || status=1
build win64 && built_win64=1 || status=1
build win32 || status=1

rm -rf build/dev/test-results build/win64/test-results
extra_failed=0
extra_passed=0
if [ $built_dev = 1 ]; then
  note "native tests (ASan/UBSan)"
  ctest --preset dev -j "$jobs" >build/dev.test.log 2>&1 || { status=1; tail -n 30 build/dev.test.log; }
  grep -E 'tests passed|tests failed' build/dev.test.log
fi
[ -n "$wineboot_pid" ] && wait "$wineboot_pid" 2>/dev/null
if [ $built_win64 = 1 ]; then
  note "Windows tests under Wine"
  ctest --preset win64 -j "$jobs" >build/win64.test.log 2>&1 || { status=1; tail -n 30 build/win64.test.log; }
  grep -E 'tests passed|tests failed' build/win64.test.log
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
  build/dev/bin/deflate_digests "$corpus" >build/digests.native.txt 2>&1 &
  native_pid=$!
  build/win64/wine-run.sh build/win64/bin/deflate_digests.exe "Z:${corpus//\//\\}" --fresh 2>&1 |
    tr -d '\r' >build/digests.wine.txt
  wine_rc=${PIPESTATUS[0]}
  wait $native_pid; native_rc=$?
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  lines=$(grep -c '^L' build/digests.native.txt)
  if [ $native_rc = 0 ] && [ $wine_rc = 0 ] && [ "$lines" -gt 0 ] && cmp -s build/digests.native.txt build/digests.wine.txt; then
    echo "$lines digests (file and level) equal on both builds"; extra_passed=$((extra_passed + 1))
  else
    echo "deflate digests differ or failed: see build/digests.native.txt and build/digests.wine.txt"
    diff build/digests.native.txt build/digests.wine.txt | head -10
    status=1; extra_failed=$((extra_failed + 1))
  fi
else
  echo "deflate determinism over the corpus skipped: no $shared/bench/make_corpus.sh or a build failed"
fi

# The 32-bit binaries cannot run here: check that they import only system DLLs.
if [ -d build/win32 ]; then
  note "win32 imports"
  # CMakeFiles holds the compiler checks' programs, which are not ours.
  bad=$(find build/win32 -maxdepth 4 -name CMakeFiles -prune -o \( -name '*.exe' -o -name '*.dll' \) -print0 |
    xargs -0 -r -n1 i686-w64-mingw32-objdump -p 2>/dev/null | sed -n 's/^\s*DLL Name: //p' | sort -u |
    grep -viE '^(kernel32|user32|advapi32|ole32|oleaut32|shell32|msvcrt|gdi32|ws2_32|uuid|comdlg32|version|shlwapi)\.dll$')
  if [ -n "$bad" ]; then
    echo "win32 binaries import non-system DLLs: $bad"; status=1; extra_failed=$((extra_failed + 1))
  else
    echo "win32 binaries import only system DLLs"; extra_passed=$((extra_passed + 1))
  fi
fi

# Count test cases over both suites from the GoogleTest XML reports, plus the
# script's own checks above; a program that died without a report counts as
# one failure.
python3 - "$extra_failed" "$extra_passed" build/dev build/win64 <<'PY'
import glob, os, re, sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
failed += int(sys.argv[1])
passed += int(sys.argv[2])
for tree in sys.argv[3:]:
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
