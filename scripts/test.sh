#!/usr/bin/env bash
# Builds the program from scratch and runs every test: a plain build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, a ThreadSanitizer build of the threaded parts (the install
# flow, the runner, the stand-ins), and a bounded libFuzzer run of each fuzz target.
# Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

configure() {
    local dir=$1
    shift
    rm -rf "$dir"
    cmake -S . -B "$dir" -G Ninja "$@"
}

configure build/test -DCMAKE_BUILD_TYPE=Debug
cmake --build build/test
ctest --test-dir build/test --output-on-failure --timeout 1200

configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DMORVANTA_SANITIZE=ON
cmake --build build/sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure --timeout 1200

configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DMORVANTA_TSAN=ON
cmake --build build/tsan --target flow_tests unit_tests standin_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure --timeout 600 \
    -R '^(InstallFlow|ThreadedInstallFlow|RunnerTest|LaunchctlTest|DnsSdTest|FileManagerTest)'

bash scripts/fuzz.sh 15
