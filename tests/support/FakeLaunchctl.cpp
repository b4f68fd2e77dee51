#include "tests/support/FakeLaunchctl.h"

#include <fstream>

#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta::test {

namespace {

const char* const script = R"SH(#!/bin/sh
dir=$(dirname "$0")
{ for a in "$@"; do printf '%s\037' "$a"; done; printf '\n'; } >> "$dir/launchctl-calls"
last=""
for a in "$@"; do last=$a; done
key="$1 $(basename "$last" .plist)"
answers="$dir/launchctl-answers"
if [ -f "$answers/$key.out" ]; then cat "$answers/$key.out"; elif [ -f "$answers/$1.out" ]; then cat "$answers/$1.out"; fi
if [ -f "$answers/$key.status" ]; then exit "$(cat "$answers/$key.status")"; fi
if [ -f "$answers/$1.status" ]; then exit "$(cat "$answers/$1.status")"; fi
exit 0
)SH";

}  // namespace

FakeLaunchctl::FakeLaunchctl(const fs::path& path) : executable(path) {
    writeFile(executable, script);
    fs::permissions(executable, fs::perms::owner_all);
    answer("bootout", "Boot-out failed: 3: No such process\n", 3);
    answer("print", "com.brenmoorlabs.morvantamonitor.relay = {\n\tactive count = 1\n\tstate = running\n}\n", 0);
}

void FakeLaunchctl::answer(const std::string& key, const std::string& output, int status) {
    const fs::path answers = executable.parent_path() / "launchctl-answers";
    writeFile(answers / (key + ".out"), output);
    writeFile(answers / (key + ".status"), std::to_string(status));
}

std::vector<std::vector<std::string>> FakeLaunchctl::calls() const {
    std::vector<std::vector<std::string>> calls;
    std::ifstream log(executable.parent_path() / "launchctl-calls");
    for (std::string line; std::getline(log, line);) {
        std::vector<std::string> arguments;
        size_t start = 0;
        for (size_t end = line.find('\037'); end != std::string::npos; end = line.find('\037', start)) {
            arguments.push_back(line.substr(start, end - start));
            start = end + 1;
        }
        calls.push_back(arguments);
    }
    return calls;
}

}  // namespace morvanta::test
