#!/usr/bin/env bash
# Checks the manual pages: each has the sections a reader looks for, renders
# without a warning from man or troff (the way lintian renders it, and plainly
# in a UTF-8 and in the C locale, at several widths), and describes every option and subcommand its program's
# --help lists.
#   scripts/check-man.sh BIN_DIR PAGE...
set -euo pipefail
bin=${1:?bin dir}
shift
failed=0
fail() { echo "check-man: $*" >&2; failed=1; }

# The option lines of a --help text: "  -h,--help ...", "  --ip ADDR ...".
options_of() { grep -E '^ +-' | grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort -u; }

for page in "$@"; do
  name=$(basename "$page" .1)
  [ -f "$page" ] || { fail "$page is missing"; continue; }
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES \
    "SEE ALSO"; do
    grep -qx "\.SH $section" "$page" || fail "$name.1 has no section $section"
  done
  for width in 80 64 120; do
    warnings=$( { MANWIDTH=$width LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >/dev/null
      for locale in C.UTF-8 C; do  # a terminal that shows Chinese, and one that cannot
        MANWIDTH=$width LC_ALL=$locale man --warnings -l "$page" >/dev/null
      done; } 2>&1)
    [ -z "$warnings" ] || fail "$name.1 at $width columns: $warnings"
  done

  program=$bin/$name
  [ -x "$program" ] || continue
  help=$(QT_QPA_PLATFORM=offscreen "$program" --help 2>&1) || fail "$name --help failed"
  # korvane-cli: every subcommand has a section, and its --help's options too.
  subcommands=$(printf '%s\n' "$help" | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}')
  for sub in $subcommands; do
    grep -qx "\.SS ${sub//-/\\\\-}" "$page" || fail "$name.1 has no section for '$sub'"
    help+=$'\n'$("$program" "$sub" --help 2>&1) || fail "$name $sub --help failed"
  done
  for option in $(printf '%s\n' "$help" | options_of); do
    grep -qF -- "${option//-/\\-}" "$page" || fail "$name.1 does not describe $option"
  done
done
[ "$failed" = 0 ] && echo "check-man: $# pages complete, no warnings"
exit "$failed"
