#!/usr/bin/env bash
# Fails when a file of src/ includes a header of a layer it may not use, or
# Qt outside the window's layers. Each folder may include itself and the
# folders below it, and nothing else:
#   base <- link <- download;  base <- proc;  link, download, proc: the core
#   core <- frontend <- cli, devsim, ui, win;  ui <- app
# The build refuses most such includes already (each layer's headers come
# only with its target); this also covers a link added where it must not be.
#   scripts/check-layering.sh [SRC_DIR]
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
core="base link download proc"
declare -A may_include=(
  [base]="base"
  [link]="base link"
  [download]="base link download"
  [proc]="base proc"
  [frontend]="$core frontend"
  [cli]="$core frontend cli"
  [devsim]="$core frontend devsim"
  [ui]="$core frontend ui"
  [app]="$core ui app"
  [win]="$core frontend win"
)
qt_layers=" ui app "
layers=" ${!may_include[*]} "

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'
qt="${include}(Q[A-Za-z]+|qt[A-Za-z]*)(/|>|\")"
failed=0
checked=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  if [ -z "${may_include[$folder]+set}" ]; then
    echo "check-layering: src/$folder is no known layer; give it its arrows here" >&2
    failed=1
    continue
  fi
  checked=$((checked + 1))
  allowed=" ${may_include[$folder]} "
  files=$(find "$dir" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.in' \))
  [ -n "$files" ] || continue
  # Every include of a layer's header: FILE:LINE:LAYER.
  while IFS= read -r hit; do
    [ -n "$hit" ] || continue
    used=${hit##*:}
    if [[ $layers == *" $used "* && $allowed != *" $used "* ]]; then
      echo "check-layering: ${hit%:*} includes $used/, which src/$folder may not use" >&2
      failed=1
    fi
  done < <(grep -HnoE "${include}[a-z]+/" $files | sed -E 's/:[^:]*[<"]([a-z]+)\/$/:\1/')
  # A path that climbs out of the include root would get round the targets.
  if found=$(grep -HnE "${include}[^>\"]*\.\./" $files); then
    echo "check-layering: include a header by its layer, not by a relative path:" >&2
    echo "$found" >&2
    failed=1
  fi
  if [[ $qt_layers != *" $folder "* ]] && found=$(grep -HnE "$qt" $files); then
    echo "check-layering: only ui/ and app/ may include Qt:" >&2
    echo "$found" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "check-layering: every include of the $checked layers follows an allowed arrow"
