#include "platform/Workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <map>

#include "platform/Bundle.h"

namespace fs = std::filesystem;

namespace morvanta {

namespace {

std::optional<pid_t> pidOf(const fs::path& procEntry) {
    const std::string name = procEntry.filename().string();
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size()) return std::nullopt;
    return pid;
}

// The executable's bundle identifier, with one Info.plist read per bundle and scan.
std::optional<std::string> identifierOf(const fs::path& executable,
                                        std::map<fs::path, std::optional<std::string>>& cache) {
    const auto bundle = bundleOfExecutable(executable);
    if (!bundle) return std::nullopt;
    const auto known = cache.find(*bundle);
    if (known != cache.end()) return known->second;
    return cache[*bundle] = bundleInfoString(*bundle, "CFBundleIdentifier");
}

// In the child of a fork: start `executable` in a new session, detached from us, and exit.
// Only async-signal-safe calls happen here.
[[noreturn]] void spawnDetached(const char* executable, char* const argv[]) {
    if (::setsid() < 0) ::_exit(127);
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 127 : 0);
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) ::_exit(127);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close_range(3, ~0U, 0);
    ::execv(executable, argv);
    ::_exit(127);
}

}  // namespace

Workspace& Workspace::shared() {
    static Workspace instance;
    return instance;
}

std::vector<RunningApplication> Workspace::runningApplications() const {
    std::vector<RunningApplication> applications;
    std::map<fs::path, std::optional<std::string>> cache;
    std::error_code ec;
    const uid_t uid = ::getuid();
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const auto pid = pidOf(entry.path());
        struct stat st {};
        if (!pid || ::stat(entry.path().c_str(), &st) != 0 || st.st_uid != uid) continue;
        std::error_code linkError;
        const fs::path executable = fs::read_symlink(entry.path() / "exe", linkError);
        RunningApplication application{*pid, std::nullopt};
        if (!linkError) application.bundleIdentifier = identifierOf(executable, cache);
        applications.push_back(application);
    }
    return applications;
}

void Workspace::terminate(const RunningApplication& application) const {
    ::kill(application.pid, SIGTERM);
}

bool Workspace::openApplication(const fs::path& bundle) const {
    const auto name = bundleInfoString(bundle, "CFBundleExecutable");
    if (!name || name->empty()) return false;
    const std::string executable = (bundle / "Contents" / "MacOS" / *name).string();
    if (::access(executable.c_str(), X_OK) != 0) return false;
    std::string argv0 = executable;
    char* const argv[] = {argv0.data(), nullptr};
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) spawnDetached(executable.c_str(), argv);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace morvanta
