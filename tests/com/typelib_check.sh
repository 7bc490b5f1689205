#!/bin/sh
# typelib_check.sh RUNNER MAKETYPELIB OUTDIR OUTDIR_NATIVE COMMITTED: writes
# both type libraries with MakeTypeLib (the current directory holds
# Sender.tlb) and compares them with the committed ones.
set -u
runner=$1 generator=$2 out=$3 native=$4 committed=$5
rm -rf "$out" && mkdir -p "$out" || exit 1
status=0
for kind in win64 win32; do
  name=DuredaVevuvavizuriz_NUVA.$kind.tlb
  "$runner" "$generator" "$native\\$name" $kind || { echo "MakeTypeLib $kind failed"; exit 1; }
  if cmp "$out/$name" "$committed/$name"; then
    echo "$name: the same bytes"
  else
    echo "$name differs from the committed one: run MakeTypeLib and commit its output"
    status=1
  fi
done
exit $status
