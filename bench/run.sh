#!/usr/bin/env bash
# Runs every benchmark of the build (preset bench, in build/): each
# bench/*_bench.cpp program (Google Benchmark, repeated, medians shown) and
# each comparison script bench/*.sh. `make bench` builds first and then runs this.
#   bench/run.sh [BUILD_DIR]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

for source in "$root"/bench/*_bench.cpp; do
  program=$build/bin/$(basename "$source" .cpp)
  [ -x "$program" ] || { echo "bench: $program is missing: make bench (preset bench) builds it" >&2; exit 1; }
  echo "== $(basename "$program")"
  "$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true
done

for script in "$root"/bench/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  echo "== $(basename "$script")"
  "$script" "$build"
done
