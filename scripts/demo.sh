#!/usr/bin/env bash
# The demo: start the device simulator on 127.0.0.1, download a sample firmware
# to it and show that it arrived intact. (Completed once downloading exists.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 3000000 /dev/zero | tr '\0' 'K' > "$work/sample-firmware.zip"
echo "demo: the sample firmware, as it will be sent:"
"$bin/korvane-cli" inspect "$work/sample-firmware.zip"
echo "demo: downloading to the simulator comes with the download command."
