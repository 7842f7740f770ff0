#!/usr/bin/env bash
# Checks the Windows setup and zip of make package-windows. The zip holds
# exactly the three programs and README.txt, the programs stripped. The setup,
# run silently under wine, installs for the user alone into
# %LOCALAPPDATA%\Programs\Korvane the programs of the zip, which run, with a
# Start-menu shortcut and an uninstaller listed under HKCU; that uninstaller,
# run silently as Windows would run it, leaves neither folder, shortcut nor key.
# Run by ctest in the Windows build (scripts/test-windows.sh) in that run's
# throw-away wine prefix; without the packages it is skipped (exit 77).
#   scripts/windows-package-check.sh BUILD_DIR VERSION
set -euo pipefail
build=${1:?build dir} version=${2:?version}
# shellcheck source=scripts/wine-lib.sh
. "$(dirname "$0")/wine-lib.sh" # $wine
fail() { echo "windows-package-check: $*" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || fail "no WINEPREFIX: run it through scripts/test-windows.sh"
setup=$build/korvane-$version-win64-setup.exe
zip=$build/korvane-$version-win64.zip
if [ ! -f "$setup" ] || [ ! -f "$zip" ]; then
  echo "windows-package-check: no $setup or $zip (make package-windows): skipped" >&2
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
programs=(korvane.exe korvane-cli.exe korvane-devsim.exe)

# The zip.
diff <(printf '%s\n' "${programs[@]}" README.txt | sort) \
     <(python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' \
         "$zip" | sort) || fail "the zip holds other files than expected (< expected, > zipped)"
python3 -m zipfile -e "$zip" "$scratch/zip"
for p in "${programs[@]}"; do
  packed=$scratch/zip/$p
  [ "$(stat -c %s "$packed")" -lt "$(stat -c %s "$build/bin/$p")" ] ||
    fail "$p in the zip is no smaller than the build's"
  ! x86_64-w64-mingw32-objdump -h "$packed" | grep -q ' \.debug_' ||
    fail "$p in the zip keeps debug sections"
done
readme=$scratch/zip/README.txt
grep -q "^Version $version\.$(printf '\r')\$" "$readme" || fail "README.txt does not name $version in CR LF lines"
! grep -q '@' "$readme" || fail "README.txt keeps a placeholder"

# The setup asks for no administrator rights: its manifest runs it as the invoker.
grep -aq 'level="asInvoker"' "$setup" || fail "the setup's manifest asks for elevation"
start=$SECONDS
"$wine" "$setup" /S || fail "the silent setup exited $?"
installed=$((SECONDS - start))

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane'
reg_value() { # NAME: the value's data, from reg.exe's "    NAME    REG_SZ    DATA" line
  "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 \{1,\}REG_[A-Z_]* \{1,\}//p"
}
location=$(reg_value InstallLocation)
[[ "$location" == *'\AppData\Local\Programs\Korvane' ]] ||
  fail "installed into '$location', not the user's %LOCALAPPDATA%\\Programs\\Korvane"
[ "$(reg_value DisplayVersion)" = "$version" ] || fail "the uninstall entry's version is '$(reg_value DisplayVersion)'"
folder=$("$wine" winepath -u "$location" 2>/dev/null)
for p in "${programs[@]}" README.txt; do
  cmp -s "$folder/$p" "$scratch/zip/$p" || fail "the installed $p is not the zip's"
done
out=$("$wine" "$folder/korvane-cli.exe" --version | tr -d '\r') || fail "korvane-cli.exe --version failed"
[ "$out" = "korvane-cli $version" ] || fail "the installed korvane-cli.exe --version printed '$out'"

shortcut=("$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/Korvane.lnk)
[ -f "${shortcut[0]}" ] || fail "no Korvane.lnk in the user's Start menu"
grep -aq 'korvane\.exe' "${shortcut[0]}" || fail "Korvane.lnk does not lead to korvane.exe"

# The uninstaller copies itself out of the folder and goes on from there, so
# its first process ends at once: wait for what it leaves behind.
uninstall=$(reg_value UninstallString)
start=$SECONDS
"$wine" "$("$wine" winepath -u "${uninstall//\"/}" 2>/dev/null)" /S || fail "the silent uninstaller exited $?"
for _ in $(seq 1 240); do # up to 2 min on a loaded machine
  [ -e "$folder" ] || [ -e "${shortcut[0]}" ] || break
  sleep 0.5
done
[ ! -e "$folder" ] || fail "the uninstaller left $folder: $(ls -A "$folder")"
[ ! -e "${shortcut[0]}" ] || fail "the uninstaller left the shortcut"
[ -z "$(reg_value UninstallString)" ] || fail "the uninstaller left $key"
echo "windows-package-check: the zip, and the setup installed ($installed s), run and" \
  "uninstalled ($((SECONDS - start)) s) silently"
