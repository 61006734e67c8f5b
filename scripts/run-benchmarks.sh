#!/usr/bin/env bash
# Runs every benchmark executable of a benchmark build, then any benchmark scripts.
set -euo pipefail
build=${1:-build-bench}
status=0
for b in "$build"/bin/*_bench; do
  [[ -x "$b" ]] || continue
  echo "=== $(basename "$b") ==="
  "$b" --benchmark_counters_tabular=true || status=1
done
for s in scripts/bench/*.sh; do
  [[ -x "$s" ]] || continue
  echo "=== $(basename "$s") ==="
  "$s" "$build" || status=1
done
exit $status
