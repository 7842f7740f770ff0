#!/usr/bin/env bash
# Fails when a file of the core (src/base, src/link, src/download, src/proc)
# includes a Qt header or a header of a front end or of the simulator: the
# core is standard library + POSIX only, shared by every front end.
#   scripts/check-layering.sh [SRC_DIR]
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
core=()
for layer in base link download proc; do
  [ -d "$src/$layer" ] && core+=("$src/$layer")
done
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]((Q[A-Za-z]+|qt[A-Za-z]*)(/|>|")|(app|ui|cli|devsim|frontend)/)'
if found=$(grep -rnE "$pattern" "${core[@]}" --include='*.cpp' --include='*.hpp' --include='*.h'); then
  echo "check-layering: the core must not include Qt or front-end headers:" >&2
  echo "$found" >&2
  exit 1
fi
echo "check-layering: the core includes no Qt or front-end header (${#core[@]} layers)"
