#!/usr/bin/env bash
# Builds in release mode and prints one table: the scene collection patch beside Python's json
# module, jq and cp; the whole installation with the stand-in launchctl beside its floor; and the
# window's main thread during an installation. Needs root for nothing; installs packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh > /dev/null
rm -rf build/bench
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/bench > /dev/null
out=build/bench/results
mkdir -p "$out"
build/bench/bench/scene_patch_bench --benchmark_format=json --benchmark_out="$out/patch.json" > /dev/null
build/bench/bench/install_bench --benchmark_format=json --benchmark_out="$out/install.json" > /dev/null
build/bench/bench/window_probe > "$out/window.txt" 2> /dev/null
python3 bench/table.py "$out/patch.json" "$out/install.json" "$out/window.txt"
