#pragma once

#include <QObject>

#include "app/InstallFlow.h"

namespace morvanta {

// The install flow's platform on Qt: the running applications and launching from the workspace,
// a thread of its own for the installation, one queued call back to the main thread, and a local
// event loop ended by a timer for "run the main loop until a time".
class QtFlowPlatform : public FlowPlatform {
public:
    // `receiver` lives on the main thread; closures posted back run in its thread.
    QtFlowPlatform(QObject& receiver, const Workspace& workspace);

    std::vector<RunningApplication> runningApplications() override;
    void terminate(const RunningApplication& application) override;
    Clock::time_point now() override;
    void runMainLoopUntil(Clock::time_point time) override;
    void runInBackground(std::function<void()> work) override;
    void postToMain(std::function<void()> closure) override;
    bool fileExists(const std::filesystem::path& path) override;
    void launchApplication(const std::filesystem::path& bundle) override;

private:
    QObject& receiver_;
    const Workspace& workspace_;
};

}  // namespace morvanta
