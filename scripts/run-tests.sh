#!/usr/bin/env bash
# Runs the ctest suite of one build preset, in a private network namespace
# whose only interface is `lo` where the kernel lets us (scripts/in-private-net.sh),
# so that no datagram a test sends can ever leave this machine.
#   scripts/run-tests.sh PRESET [extra ctest arguments...]
set -euo pipefail
preset=${1:?preset}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
case "$preset" in
  default) dir=$root/build ;;
  *) dir=$root/build-$preset ;;
esac

jobs=${KORVANE_TEST_JOBS:-8}
ctest_cmd=(ctest --test-dir "$dir" --output-on-failure --timeout 180 -j "$jobs" "$@")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan-suppressions.txt}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

echo "run-tests: $preset suite" >&2
exec "$root/scripts/in-private-net.sh" "${ctest_cmd[@]}"
