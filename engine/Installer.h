#pragma once

#include <filesystem>

#include "engine/Host.h"
#include "platform/FileManager.h"

namespace morvanta {

// One installation for the user whose home folder is `home`. One object serves one run.
class Installer {
public:
    // `fm` serves every file operation of the run; `host` gives what lies outside the home.
    Installer(const FileManager& fm, std::filesystem::path home, Host host = Host::system());

    // Runs every step in order on the calling thread: the preflight (OBS installed, configured,
    // with scene collections, closed), the folders and payload files, the scene collections, the
    // profiles, the agent definitions, the seven launchctl commands and the relay check. Returns
    // when the last step succeeded. The first failure ends the run with its InstallError or
    // PlatformError, unchanged; the preflight changes nothing, later steps are not undone.
    void install();

    const FileManager& fm;
    const std::filesystem::path home;

private:
    Host host_;
};

}  // namespace morvanta
