#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 15) from the seed corpus in tests/fuzz/corpus. A crash fails the run and leaves its
# input in build/fuzz/; turn it into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
rm -rf build/fuzz
CC=clang CXX=clang++ cmake -S tests/fuzz -B build/fuzz -G Ninja
cmake --build build/fuzz
for target in scene_patch profile_patch launch_agent utf8; do
    mkdir -p "build/fuzz/corpus/$target"
    (cd build/fuzz && "./fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=4096 \
        "corpus/$target" "../../tests/fuzz/corpus/$target")
    echo "fuzz_$target: no crash in $seconds s"
done
