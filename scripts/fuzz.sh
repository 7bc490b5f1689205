#!/usr/bin/env bash
# Runs a libFuzzer campaign for every fuzz target (or the ones named after the
# duration), one after another, one job each (the machine is shared).
#
#   scripts/fuzz.sh SECONDS [TARGET...]      e.g. scripts/fuzz.sh 3600 inflate_fuzz
#
# The corpus of each target grows in build/fuzz-corpus/NAME (seeded from
# fuzz/seeds/NAME); crashes land in build/fuzz-artifacts/NAME/. The last
# lines of each run (executions, findings) are printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
cmake --preset fuzz >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')
fi
cmake --build --preset fuzz -j2 --target "${targets[@]}" >/dev/null
status=0
for t in "${targets[@]}"; do
  corpus=build/fuzz-corpus/$t
  artifacts=build/fuzz-artifacts/$t/
  mkdir -p "$corpus" "$artifacts"
  log=build/fuzz-artifacts/$t.log
  echo "== $t for ${seconds}s"
  # One job; libFuzzer writes the job's log (fuzz-0.log) into the current
  # directory, so the run happens inside the artifacts directory.
  if ! (cd "$artifacts" && "$root/build/fuzz/bin/$t" -max_total_time="$seconds" -jobs=1 -workers=1 \
      -max_len=65536 -artifact_prefix="$root/$artifacts" -print_final_stats=1 "$root/$corpus" \
      "$root/fuzz/seeds/$t") >"$log" 2>&1; then
    echo "   finding: see $log and $artifacts"
    status=1
  fi
  grep -hE "stat::number_of_executed_units|DONE|ERROR|SUMMARY" "$log" "$artifacts/fuzz-0.log" 2>/dev/null |
    tail -3 | sed 's/^/   /'
done
exit $status
