#!/usr/bin/env bash
# Makes the Debian package from a finished build tree, unpacks it into a scratch
# root and checks what it installs: exactly the expected files, a valid menu
# entry and AppStream description, the package fields, programs that run, a
# bash completion that offers every option, and no error or warning from lintian.
#   scripts/check-install.sh BUILD_DIR VERSION WITH_GUI(0|1)
set -euo pipefail
build=${1:?build dir} version=${2:?version} with_gui=${3:?0 or 1}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

# A strict umask, as some build machines have: the package's modes must not follow it.
(umask 027 && cpack --config "$build/CPackConfig.cmake" -B "$scratch/pkg") >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$scratch/pkg/korvane_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb among: $(ls "$scratch/pkg")"

depends=$(dpkg-deb -f "$deb" Depends)
for need in iputils-ping libc6 libstdc++6; do
  [[ ",$depends" == *", "$need* || "$depends" == $need* ]] || fail "Depends lacks $need: $depends"
done
[ "$with_gui" = 0 ] || [[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks Qt: $depends"
for field in Maintainer Description Section; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field"
done

root=$scratch/root
dpkg -x "$deb" "$root"
programs=(korvane-cli korvane-devsim)
doc=usr/share/doc/korvane
expected=("$doc/copyright" "$doc/changelog.gz" "$doc/README.md.gz"
          usr/share/bash-completion/completions/korvane-cli)
if [ "$with_gui" = 1 ]; then
  programs+=(korvane)
  app=usr/share/applications/org.korvane.Korvane.desktop
  meta=usr/share/metainfo/org.korvane.Korvane.metainfo.xml
  icons=usr/share/icons/hicolor
  expected+=("$app" "$meta" "$icons/16x16/apps/korvane.png" "$icons/32x32/apps/korvane.png"
             "$icons/scalable/apps/korvane.svg")
fi
for p in "${programs[@]}"; do expected+=("usr/bin/$p" "usr/share/man/man1/$p.1.gz"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -printf '%P\n' | sort) ||
  fail "the package holds other files than expected (< expected, > packaged)"

for p in "${programs[@]}"; do
  got=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$p" --version 2>/dev/null) || fail "$p --version failed"
  [ "$got" = "$p $version" ] || fail "$p --version printed '$got'"
  zcat "$root/usr/share/man/man1/$p.1.gz" | grep -q "^\.TH .*\"$p $version\"" ||
    fail "$p.1 is not the manual page of $p $version"
done

zcat "$root/$doc/changelog.gz" | sed -n 1p | grep -q "^korvane ($version) " ||
  fail "the changelog's latest entry is not $version"

# The completion, with stand-ins for bash-completion's helpers: after each
# subcommand, "-" offers every option of its --help.
completion=$root/usr/share/bash-completion/completions/korvane-cli
bash -n "$completion" || fail "the bash completion does not parse"
for sub in download restore-ip machine-code ping inspect; do
  offered=$(bash -c 'sub=$1
    _init_completion() { cur=-; prev=$sub; words=(korvane-cli "$sub" -); cword=2; }
    _filedir() { :; }
    . "$0" && _korvane_cli && printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$sub")
  for option in $("$root/usr/bin/korvane-cli" "$sub" --help | grep -E '^ +-' |
                  grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | grep -vx -- -h); do
    grep -qx -- "$option" <<<"$offered" || fail "completion of '$sub' does not offer $option"
  done
done

if [ "$with_gui" = 1 ]; then
  desktop-file-validate "$root/$app" || fail "desktop entry is not valid"
  appstreamcli validate --no-net "$root/$meta" >"$scratch/as.log" ||
    { cat "$scratch/as.log"; fail "metainfo is not valid"; }
  for size in 16 32; do
    file -b "$root/$icons/${size}x$size/apps/korvane.png" | grep -q "PNG image data, $size x $size" ||
      fail "the ${size}x$size icon is not a $size-pixel PNG"
  done
fi

printf abc >"$scratch/abc.bin"
"$root/usr/bin/korvane-cli" inspect "$scratch/abc.bin" | grep -qx 'md5: 900150983cd24fb0d6963f7d28e17f72' ||
  fail "the packaged korvane-cli does not inspect a file"
# lintian as Debian's archive runs it: no error and no warning (information lines
# are shown, and allowed).
lintian --fail-on error,warning --display-info "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log"; fail "lintian: errors or warnings"; }
sed 's/^/check-install: lintian: /' "$scratch/lintian.log"
echo "check-install: $(basename "$deb") installs ${#expected[@]} files and runs"
