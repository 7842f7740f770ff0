#!/usr/bin/env bash
# `korvane-cli inspect` against `openssl md5` on the same 256 MiB file, warm
# cache. Both read the whole file and print its MD5; inspect also keeps the
# file in memory, as a download does.
#   bench/inspect_vs_openssl.sh [BUILD_DIR]      (default: build)
# Uses hyperfine when it is installed, else `time` five times each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cli=$build/bin/korvane-cli
[ -x "$cli" ] || { echo "no $cli: build the default preset first" >&2; exit 1; }
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 1; }

file=$(mktemp /tmp/korvane-inspect-bench.XXXXXX)
trap 'rm -f "$file"' EXIT
head -c $((256 * 1024 * 1024)) /dev/urandom >"$file"

# The two must agree before their speed means anything.
ours=$("$cli" inspect "$file" | sed -n 's/^md5: //p')
theirs=$(openssl md5 -r "$file" | cut -d' ' -f1)
if [ "$ours" != "$theirs" ]; then
  echo "digests differ: inspect $ours, openssl $theirs" >&2
  exit 1
fi
echo "256 MiB file, md5 $ours"

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 --runs 10 --shell=none \
    "$cli inspect $file" "openssl md5 $file"
else
  cat "$file" >/dev/null  # warm the page cache
  for name in inspect openssl; do
    echo "== $name"
    for _ in 1 2 3 4 5; do
      if [ "$name" = inspect ]; then
        ( time "$cli" inspect "$file" >/dev/null ) 2>&1 | grep real
      else
        ( time openssl md5 "$file" >/dev/null ) 2>&1 | grep real
      fi
    done
  done
fi
