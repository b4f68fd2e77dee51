#pragma once

#include <filesystem>
#include <string>

namespace morvanta {

// Every path of an installation, built from the user's home folder in one place. Paths have no
// trailing slash.
struct PathLayout {
    // Builds the layout for `home`.
    explicit PathLayout(const std::filesystem::path& home);

    std::filesystem::path home;
    std::filesystem::path obsConfigurationFolder;
    std::filesystem::path obsUserSettingsFile;
    std::filesystem::path sceneCollectionFolder;
    std::filesystem::path profilesFolder;
    std::filesystem::path relayFolder;
    std::filesystem::path relayExecutable;
    std::filesystem::path relayConfiguration;
    std::filesystem::path outputScript;
    std::filesystem::path relayLogFolder;
    std::filesystem::path agentFolder;
    std::filesystem::path relayAgentDefinitionFile;
    std::filesystem::path discoveryAgentDefinitionFile;

    // The settings file of the profile folder `entry`.
    static std::filesystem::path profileSettingsFile(const std::filesystem::path& entry);

    // The backup copy of `file` for the run stamped `backupStamp`.
    static std::filesystem::path backupCopy(const std::filesystem::path& file, const std::string& backupStamp);
};

}  // namespace morvanta
