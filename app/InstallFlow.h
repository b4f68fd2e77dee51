#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace morvanta {

// A modal alert: its message, its informative text and its buttons in order, the first the
// default.
struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;
};

// The result of an alert whose first button was chosen; the second gives 1001, and so on.
inline constexpr int alertFirstButtonReturn = 1000;

// The window as the install flow sees it: the button, the status line and alerts. Called on the
// main thread only.
class FlowView {
public:
    virtual ~FlowView() = default;
    virtual void setButtonEnabled(bool enabled) = 0;
    virtual void setButtonTitle(const std::string& title) = 0;
    virtual void setStatus(const std::string& text) = 0;
    // Shows `alert` modally and returns alertFirstButtonReturn plus the chosen button's index;
    // any other way of dismissing it returns another value.
    virtual int runModal(const Alert& alert) = 0;
    // Shows an alert built from an error whose description is `description`; waits for it.
    virtual void showError(const std::string& description) = 0;
};

// What the flow needs from the platform besides the window.
class FlowPlatform {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~FlowPlatform() = default;
    // A fresh snapshot of the user's running applications.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Asks an application to quit; returns at once.
    virtual void terminate(const RunningApplication& application) = 0;
    virtual Clock::time_point now() = 0;
    // Serves the main thread's pending work (drawing, events, posted closures) until `time`.
    virtual void runMainLoopUntil(Clock::time_point time) = 0;
    // Runs `work` once on a background thread.
    virtual void runInBackground(std::function<void()> work) = 0;
    // Runs `closure` later on the main thread, from its event loop. Safe from any thread.
    virtual void postToMain(std::function<void()> closure) = 0;
    virtual bool fileExists(const std::filesystem::path& path) = 0;
    // Asks for the application bundle at `bundle` to be launched; its outcome is not reported.
    virtual void launchApplication(const std::filesystem::path& bundle) = 0;
};

// The flow of one press of the install button: close OBS (after asking), install off the main
// thread, show the outcome, reopen OBS. Lives on the main thread; independent of the toolkit.
class InstallFlow {
public:
    enum class State { idle, confirming, quittingObs, installing, installed, failed };

    // `install` performs one whole installation and throws on failure; it runs on the background
    // thread. `obsApplications` are the OBS locations in order of preference for the relaunch.
    InstallFlow(FlowView& view, FlowPlatform& platform, std::function<void()> install,
                std::vector<std::filesystem::path> obsApplications);

    // The button's action. From idle or failed: scans for OBS; if found, asks for confirmation,
    // asks every OBS to quit and waits at most 20 s in steps of 0.25 s (serving the main loop
    // meanwhile); then enters installing and submits one background installation. Returns once
    // it is submitted, or at once on cancel. A press in any other state does nothing.
    void beginInstall();

    State state() const { return state_; }
    // True while a press is being handled (confirming, waiting for OBS or installing).
    bool busy() const;
    // Calls `action` once the current installation's outcome has been handled, or now when
    // nothing is under way. Used to end the program without cutting an installation off.
    void whenIdle(std::function<void()> action);

    static constexpr std::chrono::milliseconds quitTimeout{20000};
    static constexpr std::chrono::milliseconds waitStep{250};

private:
    bool confirmQuit();
    void waitForObsToQuit();
    void startInstalling(bool obsWasRunning);
    void succeeded(bool obsWasRunning);
    void failed(const std::string& description);
    void finish();
    std::vector<RunningApplication> runningObs();
    std::filesystem::path relaunchLocation();

    FlowView& view_;
    FlowPlatform& platform_;
    std::function<void()> install_;
    std::vector<std::filesystem::path> obsApplications_;
    State state_ = State::idle;
    std::vector<std::function<void()>> whenIdle_;
};

}  // namespace morvanta
