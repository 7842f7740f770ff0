#!/usr/bin/env bash
# ThreadSanitizer of gcc 12 cannot map its shadow memory on kernels with high
# mmap randomisation; running without address-space randomisation avoids that.
set -euo pipefail
if setarch "$(uname -m)" -R true 2>/dev/null; then
  exec setarch "$(uname -m)" -R "$@"
fi
exec "$@"
