#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/Workspace.h"

namespace morvanta {

// Everything the engine reaches outside the user's home: the running applications, the bundle's
// resource folder, the fixed system locations, the user id and the clock. The shipped program
// uses Host::system(); tests build one over a temporary folder and fakes.
struct Host {
    const Workspace* workspace = nullptr;
    // The application's resource folder; none when it cannot be determined.
    std::optional<std::filesystem::path> resourceFolder;
    std::filesystem::path obsApplication = "/Applications/OBS.app";
    std::filesystem::path obsStudioApplication = "/Applications/OBS Studio.app";
    std::filesystem::path launchctl = "/bin/launchctl";
    uid_t userId = 0;
    std::function<std::chrono::system_clock::time_point()> now;

    // The real system: the shared workspace, the running bundle's resources, the fixed
    // locations, getuid() and the wall clock.
    static Host system();
};

}  // namespace morvanta
