#!/usr/bin/env bash
# Runs CMD in a private network namespace whose only interface is `lo` (up), so
# that nothing CMD sends can leave this machine. Needs root and namespaces;
# without them CMD runs on the host network, and says so on stderr.
# Inside, KORVANE_PRIVATE_NET is 1 (0 on the host network), so that a script
# that runs itself through this one knows where it is and does not loop.
#   scripts/in-private-net.sh CMD [ARG...]
set -euo pipefail
name=$(basename "${1:?command}")
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  echo "$name: in a private network namespace (loopback only)" >&2
  exec env KORVANE_PRIVATE_NET=1 unshare -n -- bash -c 'ip link set lo up && exec "$@"' bash "$@"
fi
echo "$name: on the host network (no private network namespace available)" >&2
exec env KORVANE_PRIVATE_NET=0 "$@"
