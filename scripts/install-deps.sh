#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, run the demo
# and the benchmarks, and to make and check the Debian package. Idempotent:
# packages already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcli11-dev libgtest-dev libgmock-dev googletest libbenchmark-dev libssl-dev openssl
  iputils-ping iproute2 util-linux procps fonts-arphic-uming fonts-wqy-microhei xvfb xauth python3 valgrind
  help2man desktop-file-utils appstream dpkg-dev file
  # benchmark only: bench/fast_vs_tftp.sh measures against curl TFTP from tftpd-hpa
  tftpd-hpa curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
