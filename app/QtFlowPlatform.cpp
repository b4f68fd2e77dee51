#include "app/QtFlowPlatform.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <thread>

#include "platform/FileManager.h"

namespace morvanta {

QtFlowPlatform::QtFlowPlatform(QObject& receiver, const Workspace& workspace)
    : receiver_(receiver), workspace_(workspace) {}

std::vector<RunningApplication> QtFlowPlatform::runningApplications() { return workspace_.runningApplications(); }

void QtFlowPlatform::terminate(const RunningApplication& application) { workspace_.terminate(application); }

FlowPlatform::Clock::time_point QtFlowPlatform::now() { return Clock::now(); }

void QtFlowPlatform::runMainLoopUntil(Clock::time_point time) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(time - Clock::now());
    if (left.count() <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(left.count()), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void QtFlowPlatform::runInBackground(std::function<void()> work) { std::thread(std::move(work)).detach(); }

void QtFlowPlatform::postToMain(std::function<void()> closure) {
    QMetaObject::invokeMethod(&receiver_, std::move(closure), Qt::QueuedConnection);
}

bool QtFlowPlatform::fileExists(const std::filesystem::path& path) { return FileManager::shared().fileExists(path); }

void QtFlowPlatform::launchApplication(const std::filesystem::path& bundle) { workspace_.openApplication(bundle); }

}  // namespace morvanta
