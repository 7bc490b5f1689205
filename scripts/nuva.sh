#!/usr/bin/env bash
# Runs the nuva command-line host, building the release tree first when the
# program is missing or older than the sources: scripts/nuva.sh --help
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nuva="$root/build/release/tools/nuva/nuva"
if [ ! -x "$nuva" ] || [ -n "$(find "$root/src" "$root/tools" -newer "$nuva" -print -quit)" ]; then
  bash "$root/scripts/deps.sh"
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)" --target nuva >/dev/null)
fi
exec "$nuva" "$@"
