#!/usr/bin/env bash
# Installs the Debian packages of the named groups, only those not installed yet
# (a second run fetches nothing):
#   scripts/install-deps.sh GROUP...      (no GROUP: build; "all": every group)
#   build    build and run the programs and the demo (make build, make demo);
#            nothing in it runs a network service
#   test     the test suite, sanitizers, fuzzing, soak and valgrind (make test),
#            and the Windows build run under wine (make windows, make test-windows)
#   bench    the benchmarks and what they are compared with (make bench)
#   package  make and check the Debian package and its manual pages (make package),
#            and the Windows setup and zip (make package-windows)
# Each make target names the groups it needs.
set -euo pipefail

declare -A groups=(
  [build]="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
           libcli11-dev fonts-arphic-uming fonts-wqy-microhei iputils-ping openssl"
  [test]="libgtest-dev libgmock-dev googletest clang libclang-rt-14-dev clang-format
          xvfb xauth valgrind python3 iproute2 procps util-linux
          g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 wine"
  [bench]="libbenchmark-dev libssl-dev openssl curl tftpd-hpa python3 iproute2 util-linux"
  [package]="dpkg-dev lintian desktop-file-utils appstream file man-db groff-base gzip nsis"
)

[ $# -gt 0 ] || set -- build
[ "$*" != all ] || set -- build test bench package
wanted=()
for group in "$@"; do
  [ -n "${groups[$group]:-}" ] ||
    { echo "install-deps: unknown group '$group' (build, test, bench, package, all)" >&2; exit 2; }
  # shellcheck disable=SC2206  # the lists are words
  wanted+=(${groups[$group]})
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

# tftpd-hpa's packaged service would listen on port 69 of every interface; the
# benchmark runs an in.tftpd of its own inside a private network namespace.
# With the bench group, the service is disabled and masked, and the packaged daemon (found by its
# pid file, never by name) is stopped should it run all the same.
keep_tftpd_service_down() {
  installed tftpd-hpa || return 0
  if command -v systemctl >/dev/null; then
    $SUDO systemctl disable tftpd-hpa >/dev/null 2>&1 || true
    $SUDO systemctl mask tftpd-hpa >/dev/null 2>&1 || true
  fi
  if command -v update-rc.d >/dev/null; then
    $SUDO update-rc.d tftpd-hpa disable >/dev/null 2>&1 || true
  fi
  local pid
  pid=$(cat /run/tftpd-hpa.pid 2>/dev/null) || return 0
  if [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/sbin/in.tftpd ]; then
    echo "install-deps: stopping the packaged TFTP service (pid $pid)" >&2
    $SUDO kill "$pid" || true
  fi
}

missing=()
for p in "${wanted[@]}"; do
  installed "$p" || [[ " ${missing[*]} " == *" $p "* ]] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  # No service starts while packages install: policy-rc.d answers invoke-rc.d
  # with 101, "action forbidden". A policy the machine already has is put back.
  policy=/usr/sbin/policy-rc.d
  saved=""
  if [ -e "$policy" ]; then
    saved=$(mktemp)
    $SUDO cp -p "$policy" "$saved"
  fi
  restore_policy() {
    if [ -n "$saved" ]; then $SUDO mv -f "$saved" "$policy"; else $SUDO rm -f "$policy"; fi
  }
  trap restore_policy EXIT
  printf '#!/bin/sh\n# scripts/install-deps.sh: no service starts while it installs.\nexit 101\n' |
    $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Only with the group that brings it: an operator's own TFTP server stays as it is.
[[ " $* " != *" bench "* ]] || keep_tftpd_service_down
