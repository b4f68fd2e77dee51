#!/usr/bin/env bash
# CTest's entry to the simulated Mac: skips (77) where namespaces cannot be made.
set -euo pipefail
if [ "$(id -u)" != 0 ] || ! unshare --mount true 2>/dev/null; then
    echo "the simulated Mac needs root and mount namespaces; skipped"
    exit 77
fi
exec bash "$(dirname "$0")/simulated-mac.sh" "$1" "$2" "$1/artifacts/simulated-mac-$2"
