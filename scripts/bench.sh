#!/usr/bin/env bash
# Builds the release tree, generates the benchmark corpus (once) into
# build/corpus from ../shared/bench/make_corpus.sh, and runs every benchmark
# program (or the ones named: scripts/bench.sh inflate_bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
shared=${NUVA_SHARED_DIR:-$root/../shared}
export NUVA_CORPUS=${NUVA_CORPUS:-$root/build/corpus}
if [ ! -f "$NUVA_CORPUS/.complete" ]; then
  mkdir -p "$NUVA_CORPUS"
  TEXT_LIST=${TEXT_LIST:-fresh} bash "$shared/bench/make_corpus.sh" "$NUVA_CORPUS"
  touch "$NUVA_CORPUS/.complete"
fi
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
benches=("$@")
[ ${#benches[@]} -gt 0 ] || mapfile -t benches < <(cd build/release/bin && ls *_bench 2>/dev/null)
for b in "${benches[@]}"; do
  echo "== $b"
  "build/release/bin/$b" --benchmark_min_time=0.2
done
