#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/Bundle.h"
#include "platform/Workspace.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char** environ;

namespace morvanta {
namespace {

const fs::path fakeObsExecutable = test::builtFakeObsBundle() / "Contents/MacOS/OBS";

// Starts the fake OBS as our child with `home` as its HOME and no inherited output streams.
pid_t startFakeObs(std::vector<std::string> arguments, const fs::path& home) {
    arguments.insert(arguments.begin(), fakeObsExecutable.string());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string homeVariable = "HOME=" + home.string();
    char* envp[] = {homeVariable.data(), nullptr};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, fakeObsExecutable.c_str(), &actions, nullptr, argv.data(), envp), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// True once the fake OBS started from `home` has said it started, that is, once it is ready for
// a quit request.
bool readyForQuit(pid_t pid, const fs::path& home) {
    std::ifstream log(home / "fake-obs.log");
    for (std::string line; std::getline(log, line);) {
        if (line == "started " + std::to_string(pid)) return true;
    }
    return false;
}

std::optional<std::string> identifierOf(pid_t pid) {
    for (const auto& application : Workspace::shared().runningApplications()) {
        if (application.pid == pid) return application.bundleIdentifier.value_or("<none>");
    }
    return std::nullopt;
}

// Waits up to `limit` for `condition`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

bool exited(pid_t pid, int* status) { return ::waitpid(pid, status, WNOHANG) == pid; }

TEST(WorkspaceTest, FindsTheFakeObsByItsBundleIdentifierAndSkipsOthers) {
    test::TempDir home;
    const pid_t pid = startFakeObs({}, home.path());
    EXPECT_TRUE(eventually([&] { return identifierOf(pid) == "com.obsproject.obs-studio"; }));
    EXPECT_EQ(identifierOf(::getpid()), "<none>");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

TEST(WorkspaceTest, TerminateMakesTheFakeObsQuit) {
    test::TempDir home;
    const pid_t pid = startFakeObs({}, home.path());
    ASSERT_TRUE(eventually([&] { return readyForQuit(pid, home.path()); }));
    Workspace::shared().terminate(RunningApplication{pid, std::nullopt});
    int status = 0;
    EXPECT_TRUE(eventually([&] { return exited(pid, &status); }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(WorkspaceTest, TheFakeObsCanIgnoreTheQuitRequestOrQuitLate) {
    test::TempDir home;
    const pid_t stubborn = startFakeObs({"ignore-term"}, home.path());
    const pid_t slow = startFakeObs({"quit-after=1"}, home.path());
    ASSERT_TRUE(eventually([&] { return readyForQuit(stubborn, home.path()) && readyForQuit(slow, home.path()); }));
    Workspace::shared().terminate(RunningApplication{stubborn, std::nullopt});
    Workspace::shared().terminate(RunningApplication{slow, std::nullopt});
    int status = 0;
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(exited(stubborn, &status));
    EXPECT_FALSE(exited(slow, &status));
    EXPECT_TRUE(eventually([&] { return exited(slow, &status); }));
    EXPECT_FALSE(exited(stubborn, &status));
    ::kill(stubborn, SIGKILL);
    ::waitpid(stubborn, nullptr, 0);
}

TEST(WorkspaceTest, OpensABundleDetachedInItsOwnSession) {
    test::TempDir home;
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const bool opened = Workspace::shared().openApplication(test::builtFakeObsBundle());
    ::setenv("HOME", oldHome.c_str(), 1);
    ASSERT_TRUE(opened);
    const fs::path log = home.path() / "fake-obs.log";
    ASSERT_TRUE(eventually([&] { return fs::exists(log) && !test::readFile(log).empty(); }));
    const pid_t pid = std::atoi(test::readFile(log).substr(std::string("started ").size()).c_str());
    ASSERT_GT(pid, 0);
    EXPECT_NE(::getsid(pid), ::getsid(0));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "the launched application must not be our child";
    EXPECT_EQ(identifierOf(pid), "com.obsproject.obs-studio");
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(eventually([&] { return !identifierOf(pid).has_value(); }));
}

TEST(WorkspaceTest, ABundleWithoutExecutableIsNotOpened) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "Empty.app/Contents");
    EXPECT_FALSE(Workspace::shared().openApplication(dir.path() / "Empty.app"));
    EXPECT_FALSE(Workspace::shared().openApplication(dir.path() / "Missing.app"));
}

TEST(BundleTest, FindsTheBundleOfAnExecutable) {
    EXPECT_EQ(bundleOfExecutable("/Applications/OBS.app/Contents/MacOS/OBS"), fs::path("/Applications/OBS.app"));
    EXPECT_EQ(bundleOfExecutable("/usr/bin/sh"), std::nullopt);
    EXPECT_EQ(bundleOfExecutable("/opt/OBS/Contents/MacOS/OBS"), std::nullopt);
    EXPECT_EQ(bundleInfoString(test::builtFakeObsBundle(), "CFBundleExecutable"), "OBS");
    EXPECT_EQ(bundleInfoString(test::builtFakeObsBundle(), "NoSuchKey"), std::nullopt);
}

}  // namespace
}  // namespace morvanta
