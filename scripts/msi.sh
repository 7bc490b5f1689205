#!/usr/bin/env bash
# The Windows Installer package of one architecture, from packaging/NUVA.wxs
# with wixl (Debian package wixl):
#
#   scripts/msi.sh BIN ARCH OUT.msi [VERSION]
#
# BIN: a folder holding the files to install (DuredaVevuvavizuriz_NUVA.dll,
# Sender.tlb, nuva.exe, NuvaNet.dll, NuvaCA.dll; a build tree's bin/ or a
# distribution folder). ARCH: x64 or x86. VERSION: the project's version
# (project() in CMakeLists.txt) unless given. The library's own type library
# (src/com/typelib) and the README come from the checkout. Exit 0 when the
# package is written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 3 ] || { echo "usage: scripts/msi.sh BIN x64|x86 OUT.msi [VERSION]" >&2; exit 2; }
bin=$1 arch=$2 out=$3
version=${4:-$(sed -n 's/^project([A-Za-z_]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
case $arch in
  x64) kind=win64 win64=yes programfiles=ProgramFiles64Folder
       upgrade=5C3E8B0A-4E21-4F7D-9B55-2C1A6E0D7F41 ;;
  x86) kind=win32 win64=no programfiles=ProgramFilesFolder
       upgrade=A8D2F3C6-1B7E-4C59-8E04-6F3B9D2A5C17 ;;
  *) echo "msi: ARCH is x64 or x86, not $arch" >&2; exit 2 ;;
esac
command -v wixl >/dev/null || { echo "msi: wixl is not installed (scripts/deps.sh)" >&2; exit 1; }

# wixl reads every file from one folder: stage them.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for f in DuredaVevuvavizuriz_NUVA.dll Sender.tlb nuva.exe NuvaNet.dll NuvaCA.dll; do
  [ -f "$bin/$f" ] || { echo "msi: $bin/$f is missing" >&2; exit 1; }
  cp "$bin/$f" "$stage/"
done
cp "$root/src/com/typelib/DuredaVevuvavizuriz_NUVA.$kind.tlb" "$stage/DuredaVevuvavizuriz_NUVA.tlb"
cp "$root/README.md" "$stage/"

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# wixl finds the files by names relative to the current directory.
cp "$root/packaging/NUVA.wxs" "$stage/"
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D Win64=$win64 \
  -D ProgramFiles=$programfiles -D TypeLibKind=$kind -D UpgradeCode=$upgrade -o "$out" NUVA.wxs)
