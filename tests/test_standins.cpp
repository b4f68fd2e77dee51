#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "engine/Labels.h"
#include "platform/Subprocess.h"
#include "services/LaunchAgent.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace morvanta {
namespace {

const std::string launchctl = (fs::path(MORVANTA_BUILD_DIR) / "standins/launchctl").string();
const std::string dnsSd = (fs::path(MORVANTA_BUILD_DIR) / "standins/dns-sd").string();
const std::string domain = "gui/" + std::to_string(::getuid());

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 10000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Each test gets its own state folder, and every agent it loaded is booted out at the end.
class LaunchctlTest : public ::testing::Test {
protected:
    LaunchctlTest() {
        state = dir.path() / "state";
        ::setenv("MORVANTA_LAUNCHD_STATE", state.c_str(), 1);
    }
    ~LaunchctlTest() override {
        for (const auto& label : loaded) runProcess(launchctl, {"bootout", domain + "/" + label});
        ::unsetenv("MORVANTA_LAUNCHD_STATE");
    }

    ProcessResult ctl(const std::vector<std::string>& arguments) { return runProcess(launchctl, arguments); }

    // Writes a definition for `label` running `script` with /bin/sh and returns its path.
    fs::path define(const std::string& label, const std::string& script, int throttle = 5, bool runAtLoad = true) {
        std::string text = launchAgent(label, {"/bin/sh", "-c", script}, dir.path(), dir.path() / "logs");
        if (!runAtLoad) text = std::regex_replace(text, std::regex("<key>RunAtLoad</key><true/>"), "<key>RunAtLoad</key><false/>");
        text = std::regex_replace(text, std::regex("<integer>5</integer>"), "<integer>" + std::to_string(throttle) + "</integer>");
        fs::create_directories(dir.path() / "logs");
        const fs::path path = dir.path() / (label + ".plist");
        test::writeFile(path, text);
        return path;
    }
    ProcessResult load(const std::string& label, const std::string& script, int throttle = 5, bool runAtLoad = true) {
        loaded.push_back(label);
        return ctl({"bootstrap", domain, define(label, script, throttle, runAtLoad).string()});
    }
    std::string print(const std::string& label) { return ctl({"print", domain + "/" + label}).output; }
    // The agent's output log so far; empty until the program has opened it.
    std::string log(const std::string& label) {
        const fs::path path = dir.path() / "logs" / (label + ".log");
        return fs::exists(path) ? test::readFile(path) : std::string();
    }

    test::TempDir dir;
    fs::path state;
    std::vector<std::string> loaded;
};

TEST_F(LaunchctlTest, RunsSupervisesAndStopsAnAgent) {
    const ProcessResult bootstrap = load("t.relay", "echo started in $(pwd); exec sleep 1000");
    EXPECT_EQ(bootstrap.status, 0) << bootstrap.output;
    EXPECT_EQ(bootstrap.output, "");
    EXPECT_TRUE(eventually([&] { return log("t.relay") == "started in " + dir.path().string() + "\n"; })) << log("t.relay");
    const std::string report = print("t.relay");
    for (const char* piece : {"t.relay = {\n", "\tstate = running\n", "\truns = 1\n", "\tpid = ", "\tprogram = /bin/sh\n",
                              "\tlast exit code = ", "\tstdout path = ", "\tstderr path = ", "\tpath = ", "}\n"}) {
        EXPECT_NE(report.find(piece), std::string::npos) << piece << "\n" << report;
    }
    EXPECT_EQ(ctl({"bootstrap", domain, (dir.path() / "t.relay.plist").string()}).output,
              "Bootstrap failed: 5: Input/output error\n");
    EXPECT_EQ(ctl({"kickstart", "-k", domain + "/t.relay"}).status, 0);
    EXPECT_NE(print("t.relay").find("\truns = 2\n"), std::string::npos);
    EXPECT_EQ(ctl({"bootout", domain + "/t.relay"}).status, 0);
    EXPECT_EQ(ctl({"print", domain + "/t.relay"}).status, 113);
    loaded.clear();
}

TEST_F(LaunchctlTest, RefusesWithTheRealToolsStatusesAndMessages) {
    test::writeFile(dir.path() / "bad.plist", "<plist><dict><key>Label</key>");
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string output;
    };
    const std::string other = "gui/" + std::to_string(::getuid() + 1);
    const std::vector<Case> cases = {
        {{"bootout", domain + "/nothing"}, 3, "Boot-out failed: 3: No such process\n"},
        {{"print", domain + "/nothing"}, 113,
         "Could not find service \"nothing\" in domain for user gui: " + std::to_string(::getuid()) + "\n"},
        {{"kickstart", "-k", domain + "/nothing"}, 113,
         "Could not find service \"nothing\" in domain for user gui: " + std::to_string(::getuid()) + "\n"},
        {{"bootstrap", "system", (dir.path() / "bad.plist").string()}, 64, "Unrecognized target specifier.\n"},
        {{"bootstrap", other, (dir.path() / "bad.plist").string()}, 1, "Bootstrap failed: 1: Operation not permitted\n"},
        {{"print", other + "/x"}, 1, "Print failed: 1: Operation not permitted\n"},
    };
    for (const auto& testCase : cases) {
        const ProcessResult result = ctl(testCase.arguments);
        EXPECT_EQ(result.status, testCase.status) << testCase.arguments[0];
        EXPECT_EQ(result.output, testCase.output) << testCase.arguments[0];
    }
    const ProcessResult malformed = ctl({"bootstrap", domain, (dir.path() / "bad.plist").string()});
    EXPECT_EQ(malformed.status, 5);
    EXPECT_NE(malformed.output.find("malformed property list"), std::string::npos) << malformed.output;
    const ProcessResult missing = ctl({"bootstrap", domain, (dir.path() / "missing.plist").string()});
    EXPECT_EQ(missing.status, 5);
    EXPECT_NE(missing.output.find("No such file or directory"), std::string::npos) << missing.output;
}

TEST_F(LaunchctlTest, KeepAliveRestartsNoSoonerThanTheThrottleInterval) {
    ASSERT_EQ(load("t.flaky", "date +%s.%N; exit 3", 1).status, 0);
    ASSERT_TRUE(eventually([&] {
        std::istringstream lines(log("t.flaky"));
        return std::count(std::istreambuf_iterator<char>(lines), {}, '\n') >= 3;
    }));
    std::istringstream lines(log("t.flaky"));
    std::vector<double> starts;
    for (std::string line; std::getline(lines, line);) starts.push_back(std::stod(line));
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], 0.95) << "start " << i;
    const std::string report = print("t.flaky");
    EXPECT_NE(report.find("\tlast exit code = 3\n"), std::string::npos) << report;
}

TEST_F(LaunchctlTest, ASupervisorKilledFromOutsideIsNeverReportedRunning) {
    ASSERT_EQ(load("t.victim", "exec sleep 1000").status, 0);
    const std::string report = print("t.victim");
    const pid_t program = std::atoi(report.substr(report.find("\tpid = ") + 7).c_str());
    const pid_t supervisor =
        std::atoi(test::readFile(state / "t.victim/status").substr(test::readFile(state / "t.victim/status").find("supervisor=") + 11).c_str());
    ASSERT_GT(supervisor, 0);
    ::kill(supervisor, SIGKILL);
    EXPECT_TRUE(eventually([&] { return ctl({"print", domain + "/t.victim"}).status == 113; }));
    EXPECT_TRUE(eventually([&] { return ::kill(program, 0) != 0; })) << "the program goes with its supervisor";
    EXPECT_EQ(load("t.victim", "exec sleep 1000").status, 0) << "it can be loaded again";
}

TEST_F(LaunchctlTest, AProgramThatCannotStartIsNotRunning) {
    loaded.push_back("t.missing");
    std::string text = launchAgent("t.missing", {(dir.path() / "no-such-program").string()}, std::nullopt, dir.path());
    test::writeFile(dir.path() / "missing.plist", text);
    ASSERT_EQ(ctl({"bootstrap", domain, (dir.path() / "missing.plist").string()}).status, 0);
    EXPECT_TRUE(eventually([&] { return print("t.missing").find("last exit code = 78") != std::string::npos; }));
    EXPECT_EQ(print("t.missing").find("state = running"), std::string::npos);
    EXPECT_NE(test::readFile(dir.path() / "t.missing-error.log").find("could not start"), std::string::npos);
}

TEST_F(LaunchctlTest, WithoutRunAtLoadTheProgramWaitsForAKickstart) {
    ASSERT_EQ(load("t.lazy", "exec sleep 1000", 5, false).status, 0);
    EXPECT_NE(print("t.lazy").find("state = not running"), std::string::npos);
    ctl({"kickstart", domain + "/t.lazy"});
    EXPECT_NE(print("t.lazy").find("state = running"), std::string::npos);
}

TEST_F(LaunchctlTest, RefusesAStateFolderOpenToOthers) {
    fs::create_directories(state);
    fs::permissions(state, fs::perms::all);
    const ProcessResult result = ctl({"print", domain + "/x"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("unsafe state folder"), std::string::npos) << result.output;
}

TEST(DnsSdTest, WithoutAReachableDaemonItSaysWhyAndFails) {
    // A private network and mount namespace, with /run hidden, so that no daemon can be reached
    // and nothing is sent on the machine's interfaces.
    const ProcessResult result = runProcess(
        "/usr/bin/unshare", {"--net", "--mount", "/bin/sh", "-c",
                             "mount -t tmpfs none /run && exec \"$0\" -R 'Morvanta Studio' _morvantamonitor._udp local 8890",
                             dnsSd});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.output.find("Registering Service Morvanta Studio._morvantamonitor._udp.local port 8890"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("dns-sd: cannot reach the Avahi daemon"), std::string::npos) << result.output;
}

TEST(DnsSdTest, RejectsOtherForms) {
    EXPECT_EQ(runProcess(dnsSd, {"-B", "_x._udp"}).status, 2);
    EXPECT_EQ(runProcess(dnsSd, {"-R", "n", "_x._udp", "local", "99999"}).status, 2);
}

}  // namespace
}  // namespace morvanta
