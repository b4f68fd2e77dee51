#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvanta {

// One running application of the current user.
struct RunningApplication {
    pid_t pid = 0;
    // The CFBundleIdentifier of the bundle the process runs from, or none.
    std::optional<std::string> bundleIdentifier;
};

// The running applications of the current user, and launching applications. Virtual so that
// tests can stand in for the system.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The process-wide workspace over the real system.
    static Workspace& shared();

    // A fresh snapshot of this user's processes. A process's bundle identifier is the
    // CFBundleIdentifier of the Info.plist of the ".app" bundle whose Contents/MacOS holds its
    // executable; other processes have none.
    virtual std::vector<RunningApplication> runningApplications() const;

    // Asks the application to quit (SIGTERM). Returns at once; the answer is ignored.
    virtual void terminate(const RunningApplication& application) const;

    // Starts the bundle's Contents/MacOS/<CFBundleExecutable> detached: in its own session, with
    // no inherited streams, not as a child of this process, not waited for. Returns false when
    // the bundle has no executable to start; never throws.
    virtual bool openApplication(const std::filesystem::path& bundle) const;
};

}  // namespace morvanta
