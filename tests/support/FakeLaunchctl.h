#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace morvanta::test {

// A scripted launchctl in a folder: it records each call's arguments and answers with the
// output and status set for "<subcommand> <label>" or, failing that, for "<subcommand>".
// By default it answers like a first installation: bootout fails with status 3, the others
// succeed, and print reports the relay running.
class FakeLaunchctl {
public:
    explicit FakeLaunchctl(const std::filesystem::path& executable);

    // Sets the answer for `key` ("print", or "bootstrap com.brenmoorlabs.morvantamonitor.relay").
    void answer(const std::string& key, const std::string& output, int status);
    // The arguments of every call so far, in order.
    std::vector<std::vector<std::string>> calls() const;

    std::filesystem::path executable;
};

}  // namespace morvanta::test
