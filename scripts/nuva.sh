#!/usr/bin/env bash
# Runs the nuva command-line host, building it, the library and the components
# beside it (release tree) first when missing or older than the sources:
# scripts/nuva.sh --help
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nuva="$root/build/release/bin/nuva"
if [ ! -x "$nuva" ] || [ -n "$(find "$root/src" "$root/tools" "$root/components" -newer "$nuva" -print -quit)" ]; then
  bash "$root/scripts/deps.sh"
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)" --target nuva components DuredaVevuvavizuriz_NUVA >/dev/null)
fi
exec "$nuva" "$@"
