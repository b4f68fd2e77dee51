#!/usr/bin/env bash
# Builds the program from scratch twice (plain, then with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds. Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

run_build() {
    local dir=$1
    shift
    rm -rf "$dir"
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure --timeout 600
}

run_build build/test -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DMORVANTA_SANITIZE=ON
