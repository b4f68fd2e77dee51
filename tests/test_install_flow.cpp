#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <map>
#include <set>

#include "app/InstallFlow.h"
#include "engine/InstallError.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace morvanta {
namespace {

using Clock = FlowPlatform::Clock;
const std::string installingText = "Installing\u2026 / Instalando\u2026";
const std::string successText =
    "Installed. Open OBS, then select Morvanta Studio in the app.\nInstalado. Abre OBS y selecciona Morvanta Studio en la app.";

class FakeView : public FlowView {
public:
    bool enabled = true;
    std::string title = "Install / Instalar";
    std::string status;
    std::vector<Alert> alerts;
    std::vector<std::string> errors;
    std::deque<int> answers;

    void setButtonEnabled(bool value) override { enabled = value; }
    void setButtonTitle(const std::string& value) override { title = value; }
    void setStatus(const std::string& value) override { status = value; }
    int runModal(const Alert& alert) override {
        alerts.push_back(alert);
        if (answers.empty()) return alertFirstButtonReturn;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showError(const std::string& description) override { errors.push_back(description); }
};

// A platform with a virtual clock: OBS instances leave the list a set time after their quit
// request (or never), background work waits until the test runs it.
class FakePlatform : public FlowPlatform {
public:
    Clock::time_point clock = Clock::time_point() + 1h;
    std::vector<RunningApplication> applications;
    std::map<pid_t, Clock::duration> quitDelay;  // absent: never quits
    std::map<pid_t, Clock::time_point> leavesAt;
    std::vector<pid_t> terminated;
    std::vector<std::function<void()>> background;
    std::deque<std::function<void()>> mainQueue;
    std::set<fs::path> existing;
    std::vector<fs::path> launched;
    std::vector<Clock::duration> steps;
    std::optional<Clock::time_point> submittedAt;
    std::function<void()> duringWait;

    std::vector<RunningApplication> runningApplications() override {
        std::vector<RunningApplication> running;
        for (const auto& application : applications) {
            const auto leaves = leavesAt.find(application.pid);
            if (leaves == leavesAt.end() || clock < leaves->second) running.push_back(application);
        }
        return running;
    }
    void terminate(const RunningApplication& application) override {
        terminated.push_back(application.pid);
        const auto delay = quitDelay.find(application.pid);
        if (delay != quitDelay.end()) leavesAt[application.pid] = clock + delay->second;
    }
    Clock::time_point now() override { return clock; }
    void runMainLoopUntil(Clock::time_point time) override {
        steps.push_back(time - clock);
        if (duringWait) duringWait();
        drainMain();
        clock = time;
    }
    void runInBackground(std::function<void()> work) override {
        submittedAt = clock;
        background.push_back(std::move(work));
    }
    void postToMain(std::function<void()> closure) override { mainQueue.push_back(std::move(closure)); }
    bool fileExists(const fs::path& path) override { return existing.count(path) > 0; }
    void launchApplication(const fs::path& bundle) override { launched.push_back(bundle); }

    // Runs the submitted installations, then what they posted back.
    void finishInstalling() {
        auto work = std::exchange(background, {});
        for (auto& item : work) item();
        drainMain();
    }
    void drainMain() {
        while (!mainQueue.empty()) {
            auto closure = std::move(mainQueue.front());
            mainQueue.pop_front();
            closure();
        }
    }
};

const RunningApplication obs1{101, std::string("com.obsproject.obs-studio")};
const RunningApplication obs2{102, std::string("com.obsproject.obs-studio")};
const RunningApplication other{103, std::nullopt};

class InstallFlowTest : public ::testing::Test {
protected:
    InstallFlowTest() { platform.existing = {"/Applications/OBS.app"}; }

    FakeView view;
    FakePlatform platform;
    int installs = 0;
    std::function<void()> outcome = [] {};
    InstallFlow flow{view, platform,
                     [this] {
                         ++installs;
                         outcome();
                     },
                     {"/Applications/OBS.app", "/Applications/OBS Studio.app"}};
};

TEST_F(InstallFlowTest, WithoutObsItInstallsAtOnceAndRelaunchesNothing) {
    platform.applications = {other};
    flow.beginInstall();
    EXPECT_TRUE(view.alerts.empty());
    EXPECT_EQ(flow.state(), InstallFlow::State::installing);
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.status, installingText);
    EXPECT_EQ(platform.background.size(), 1u);
    platform.finishInstalling();
    EXPECT_EQ(flow.state(), InstallFlow::State::installed);
    EXPECT_EQ(view.status, successText);
    EXPECT_EQ(view.title, "Installed / Instalado");
    EXPECT_FALSE(view.enabled);
    EXPECT_TRUE(platform.launched.empty());
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(InstallFlowTest, TheConfirmationHasItsExactTexts) {
    platform.applications = {obs1};
    view.answers = {alertFirstButtonReturn + 1};
    flow.beginInstall();
    ASSERT_EQ(view.alerts.size(), 1u);
    EXPECT_EQ(view.alerts[0].message, "OBS must close to install / OBS debe cerrarse para instalar");
    EXPECT_EQ(view.alerts[0].informativeText,
              "Save any work in OBS first. The installer will reopen OBS when finished. / Guarda tu trabajo en OBS. "
              "El instalador lo volver\u00E1 a abrir al terminar.");
    EXPECT_EQ(view.alerts[0].buttons,
              (std::vector<std::string>{"Quit OBS and install / Cerrar OBS e instalar", "Cancel / Cancelar"}));
}

TEST_F(InstallFlowTest, CancellingChangesNothingAndANewPressAsksAgain) {
    platform.applications = {obs1};
    view.answers = {alertFirstButtonReturn + 1, alertFirstButtonReturn - 1};
    view.status = "earlier error";
    flow.beginInstall();
    flow.beginInstall();
    EXPECT_EQ(view.alerts.size(), 2u);
    EXPECT_TRUE(platform.terminated.empty());
    EXPECT_TRUE(platform.background.empty());
    EXPECT_EQ(flow.state(), InstallFlow::State::idle);
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.status, "earlier error");
}

struct WaitCase {
    const char* name;
    std::vector<RunningApplication> running;
    std::map<pid_t, Clock::duration> quitDelay;
    Clock::duration earliest;
    Clock::duration latest;
};

TEST_F(InstallFlowTest, WaitsForEveryObsToLeaveOrForTwentySeconds) {
    const std::vector<WaitCase> cases = {
        {"OBS quits at once", {obs1}, {{101, 0s}}, 0s, 0s},
        {"OBS leaves after 3 s", {obs1, other}, {{101, 3s}}, 3s, 3250ms},
        {"two instances", {obs1, obs2}, {{101, 1s}, {102, 2s}}, 2s, 2250ms},
        {"OBS never quits", {obs1}, {}, 20s, 20250ms},
        {"one of two never quits", {obs1, obs2}, {{101, 1s}}, 20s, 20250ms},
    };
    for (const auto& testCase : cases) {
        FakeView caseView;
        FakePlatform casePlatform;
        casePlatform.applications = testCase.running;
        casePlatform.quitDelay = testCase.quitDelay;
        InstallFlow caseFlow(caseView, casePlatform, [] {}, {"/Applications/OBS.app"});
        const auto start = casePlatform.clock;
        caseFlow.beginInstall();
        ASSERT_TRUE(casePlatform.submittedAt) << testCase.name;
        const auto waited = *casePlatform.submittedAt - start;
        EXPECT_GE(waited, testCase.earliest) << testCase.name;
        EXPECT_LE(waited, testCase.latest) << testCase.name;
        for (const auto step : casePlatform.steps) EXPECT_EQ(step, 250ms) << testCase.name;
        EXPECT_EQ(casePlatform.terminated.size(), std::count_if(testCase.running.begin(), testCase.running.end(),
                                                                 [](const auto& a) { return a.bundleIdentifier; }))
            << testCase.name;
        EXPECT_EQ(caseFlow.state(), InstallFlow::State::installing) << testCase.name;
    }
}

TEST_F(InstallFlowTest, ObsThatNeverQuitsEndsInTheEnginesRefusal) {
    platform.applications = {obs1};
    outcome = [] { throw InstallError::obsStillOpen(); };
    flow.beginInstall();
    platform.finishInstalling();
    const std::string text = "Close OBS Studio and try again. / Cierra OBS Studio y vuelve a intentarlo.";
    EXPECT_EQ(flow.state(), InstallFlow::State::failed);
    EXPECT_EQ(view.status, text);
    EXPECT_EQ(view.errors, std::vector<std::string>{text});
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.title, "Install / Instalar");
    EXPECT_TRUE(platform.launched.empty());
}

TEST_F(InstallFlowTest, SuccessAfterQuittingObsRelaunchesItFromWhereItIs) {
    const std::vector<std::pair<std::set<fs::path>, fs::path>> cases = {
        {{"/Applications/OBS.app", "/Applications/OBS Studio.app"}, "/Applications/OBS.app"},
        {{"/Applications/OBS Studio.app"}, "/Applications/OBS Studio.app"},
        {{}, "/Applications/OBS.app"},
    };
    for (const auto& [existing, expected] : cases) {
        FakeView caseView;
        FakePlatform casePlatform;
        casePlatform.existing = existing;
        casePlatform.applications = {obs1};
        casePlatform.quitDelay = {{101, 1s}};
        InstallFlow caseFlow(caseView, casePlatform, [] {}, {"/Applications/OBS.app", "/Applications/OBS Studio.app"});
        caseFlow.beginInstall();
        casePlatform.finishInstalling();
        EXPECT_EQ(caseView.status, successText);
        EXPECT_EQ(caseView.title, "Installed / Instalado");
        EXPECT_FALSE(caseView.enabled);
        EXPECT_EQ(casePlatform.launched, std::vector<fs::path>{expected});
    }
}

TEST_F(InstallFlowTest, AFailureEnablesTheButtonAndANewPressRunsTheWholeFlowAgain) {
    outcome = [] { throw std::runtime_error("Could not write \u201C/home/ana/x\u201D: No space left on device"); };
    flow.beginInstall();
    platform.finishInstalling();
    EXPECT_EQ(view.status, "Could not write \u201C/home/ana/x\u201D: No space left on device");
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_TRUE(view.enabled);
    outcome = [] {};
    platform.applications = {obs1};
    platform.quitDelay = {{101, 0s}};
    flow.beginInstall();
    EXPECT_EQ(view.alerts.size(), 1u);
    platform.finishInstalling();
    EXPECT_EQ(installs, 2);
    EXPECT_EQ(flow.state(), InstallFlow::State::installed);
    EXPECT_EQ(platform.launched.size(), 1u);
}

TEST_F(InstallFlowTest, PressesWhileWaitingOrInstallingStartNothing) {
    platform.applications = {obs1};
    platform.quitDelay = {{101, 2s}};
    platform.duringWait = [this] { flow.beginInstall(); };
    flow.beginInstall();
    flow.beginInstall();
    EXPECT_EQ(view.alerts.size(), 1u);
    EXPECT_EQ(platform.terminated.size(), 1u);
    EXPECT_EQ(platform.background.size(), 1u);
    platform.finishInstalling();
    flow.beginInstall();
    EXPECT_EQ(installs, 1);
}

TEST_F(InstallFlowTest, ACloseDuringInstallingWaitsForTheOutcome) {
    flow.beginInstall();
    bool closed = false;
    flow.whenIdle([&] { closed = true; });
    EXPECT_FALSE(closed);
    platform.finishInstalling();
    EXPECT_TRUE(closed);
    bool closedAtOnce = false;
    flow.whenIdle([&] { closedAtOnce = true; });
    EXPECT_TRUE(closedAtOnce);
}

TEST_F(InstallFlowTest, AnUnknownFailureStillReachesTheWindow) {
    outcome = [] { throw 42; };
    flow.beginInstall();
    platform.finishInstalling();
    EXPECT_EQ(flow.state(), InstallFlow::State::failed);
    EXPECT_FALSE(view.status.empty());
}

// Background work on a real thread, closures handed back through a locked queue that the test's
// main thread serves, as the window's event loop does.
class ThreadedPlatform : public FakePlatform {
public:
    ~ThreadedPlatform() override {
        for (auto& worker : workers) worker.join();
    }
    void runInBackground(std::function<void()> work) override { workers.emplace_back(std::move(work)); }
    void postToMain(std::function<void()> closure) override {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(closure));
        ready.notify_one();
    }
    // Waits for one posted closure and runs it on the calling thread.
    void serveOne() {
        std::unique_lock lock(mutex);
        ready.wait(lock, [this] { return !posted.empty(); });
        auto closure = std::move(posted.front());
        posted.pop_front();
        lock.unlock();
        closure();
    }

    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::function<void()>> posted;
};

TEST(ThreadedInstallFlowTest, TheOutcomeComesBackThroughOneQueuedCall) {
    for (const bool succeeds : {true, false}) {
        FakeView view;
        ThreadedPlatform platform;
        std::thread::id installThread;
        InstallFlow flow(view, platform,
                         [&] {
                             installThread = std::this_thread::get_id();
                             if (!succeeds) throw InstallError::noScenes();
                         },
                         {"/Applications/OBS.app"});
        flow.beginInstall();
        platform.serveOne();
        EXPECT_NE(installThread, std::this_thread::get_id());
        EXPECT_EQ(flow.state(), succeeds ? InstallFlow::State::installed : InstallFlow::State::failed);
        std::lock_guard lock(platform.mutex);
        EXPECT_TRUE(platform.posted.empty()) << "exactly one closure";
    }
}

}  // namespace
}  // namespace morvanta
