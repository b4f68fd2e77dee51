#pragma once

#include <exception>
#include <string>

namespace morvanta {

// The install engine's own refusals. Each carries or produces the exact text the window shows;
// failures of file and process operations are PlatformError instead.
class InstallError : public std::exception {
public:
    enum class Kind { missingResource, command, missingOBS, obsStillOpen, noConfiguration, noScenes };

    // A payload file named `name` is absent from the resource folder.
    static InstallError missingResource(std::string name);
    // A failure reported with ready-made `text` (an invalid scene file, launchctl, the relay).
    static InstallError command(std::string text);
    // OBS Studio is not installed.
    static InstallError missingOBS();
    // OBS Studio is running.
    static InstallError obsStillOpen();
    // OBS Studio has never been run by this user.
    static InstallError noConfiguration();
    // OBS Studio has no scene collection file.
    static InstallError noScenes();

    Kind kind() const noexcept { return kind_; }
    // The resource name or command text; empty for the cases without one.
    const std::string& payload() const noexcept { return payload_; }

    // The text the window shows, UTF-8.
    std::string errorDescription() const;
    // The same text as errorDescription().
    const char* what() const noexcept override { return description_.c_str(); }

private:
    InstallError(Kind kind, std::string payload);

    Kind kind_;
    std::string payload_;
    std::string description_;
};

}  // namespace morvanta
