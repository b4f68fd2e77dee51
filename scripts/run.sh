#!/usr/bin/env bash
# Builds the installer from scratch and runs it inside a fresh simulated Mac (a private overlay of
# this machine, with a fake OBS running and a user's OBS configuration), on your display or, with
# none, under Xvfb where it is pressed automatically. Screenshots and logs are saved and their
# folder is printed. Needs root; the host machine is left as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
rm -rf build/run
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/run
bash tests/e2e/simulated-mac.sh build/run demo build/run/artifacts/demo
