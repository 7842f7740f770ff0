#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`, clang) and runs each for SECONDS
# (default 60) from a scratch copy of its seed corpus in tests/fuzz/corpus/, so
# the committed corpus never changes. Prints the executions per target; exits 1
# when any target crashed, with the input that did it kept in
# build-fuzz/crashes/<target>/ (replay: build-fuzz/bin/fuzz_<target> FILE).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
targets=(reply_rules devsim address child_text)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus" "$work/$target/crash"
  cp -R "tests/fuzz/corpus/$target/." "$work/$target/corpus/"
  log=$work/$target/log
  if build-fuzz/bin/"fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/$target/crash/" "$work/$target/corpus" >"$log" 2>&1; then
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf 'fuzz %-12s %12s executions in %s s\n' "$target" "${executions:-?}" "$seconds"
  else
    printf 'fuzz %-12s CRASHED\n' "$target"
    grep -v -e '^#' -e '^INFO:' -e '^stat::' -e '^ *#[0-9]' -e '^NOTE:' -e '^ *Combine' "$log" \
      | tail -n 15 >&2 || true
    rm -rf "build-fuzz/crashes/$target"
    mkdir -p build-fuzz/crashes
    cp -R "$work/$target/crash" "build-fuzz/crashes/$target"
    echo "fuzz: input kept in build-fuzz/crashes/$target/" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: crashed: ${failed[*]}" >&2
  exit 1
fi
