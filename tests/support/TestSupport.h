#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/Host.h"
#include "platform/Workspace.h"

namespace morvanta::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    // A fresh folder in `parent` instead of the temporary folder.
    explicit TempDir(const std::filesystem::path& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes `bytes` to `path`, creating parent folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// The content of `path`.
std::string readFile(const std::filesystem::path& path);
// The permission bits of `path`.
mode_t modeOf(const std::filesystem::path& path);
// The names of the entries of `folder`, sorted.
std::vector<std::string> entryNames(const std::filesystem::path& folder);
// Every file below `root` with its content, as "relative/path=content" lines, sorted.
std::string snapshot(const std::filesystem::path& root);

// A workspace whose running applications the test sets.
class FakeWorkspace : public Workspace {
public:
    std::vector<RunningApplication> applications;
    mutable std::vector<pid_t> terminated;
    mutable std::vector<std::filesystem::path> opened;

    std::vector<RunningApplication> runningApplications() const override { return applications; }
    void terminate(const RunningApplication& application) const override { terminated.push_back(application.pid); }
    bool openApplication(const std::filesystem::path& bundle) const override {
        opened.push_back(bundle);
        return true;
    }
};

// A machine laid out under a temporary folder: <root>/Applications, <root>/home and
// <root>/Resources holding the built payload, with a host pointing at them and a fixed clock.
class TestMachine {
public:
    TestMachine();

    std::filesystem::path root() const { return dir_.path(); }
    std::filesystem::path home() const { return dir_.path() / "home" / "ana"; }
    std::filesystem::path applications() const { return dir_.path() / "Applications"; }
    std::filesystem::path resources() const { return dir_.path() / "Resources"; }
    std::filesystem::path obsConfig() const { return home() / "Library/Application Support/obs-studio"; }
    std::filesystem::path scenes() const { return obsConfig() / "basic/scenes"; }
    std::filesystem::path profiles() const { return obsConfig() / "basic/profiles"; }
    std::filesystem::path relayFolder() const { return home() / "Library/Application Support/MorvantaMonitorRelay"; }

    // Installs OBS.app, writes user.ini and one scene collection "Untitled.json".
    void installObs();
    // The host for this machine; the launchctl path points at `launchctl` in the root.
    Host host() const;

    FakeWorkspace workspace;
    std::chrono::system_clock::time_point now;

private:
    TempDir dir_;
};

// Folder of the built application bundle's resources and of test helper programs.
std::filesystem::path builtResourceFolder();
std::filesystem::path builtFakeObsBundle();
std::filesystem::path testToolFolder();

}  // namespace morvanta::test
