// The window's main thread during an installation, under Qt's offscreen platform: a probe timer
// due every millisecond measures the longest time the main thread could not handle events, from
// the press of the button to the end of the installation; and the time from the moment a running
// OBS quits to the moment the window starts installing. OBS is made to quit at several moments
// within the wait's 250 ms scan step, since the reaction depends on where in the step it falls.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>

#include "app/InstallerApp.h"
#include "bench/BenchSupport.h"
#include "platform/Subprocess.h"

namespace fs = std::filesystem;
using namespace morvanta;

extern char** environ;

namespace {

pid_t startFakeObs(const fs::path& home, int quitAfterMs) {
    const std::string executable = std::string(FAKE_OBS_BUNDLE) + "/Contents/MacOS/OBS";
    std::string homeVariable = "HOME=" + home.string();
    std::string quitLate = "quit-after-ms=" + std::to_string(quitAfterMs);
    char* argv[] = {const_cast<char*>(executable.c_str()), quitLate.data(), nullptr};
    char* envp[] = {homeVariable.data(), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv, envp);
    return pid;
}

struct Run {
    bool installed = false;
    std::string status;
    qint64 longestStall = 0;
    qint64 reaction = 0;
};

// One whole installation from the button, over a fresh home, with an OBS that quits
// `quitAfterMs` after it is asked to.
Run runOnce(int quitAfterMs) {
    bench::ScratchDir dir;
    ::setenv("MORVANTA_LAUNCHD_STATE", (dir.path() / "launchd").c_str(), 1);
    const fs::path home = dir.path() / "home";
    const fs::path config = home / "Library/Application Support/obs-studio";
    bench::writeFile(config / "user.ini", "");
    for (int i = 0; i < 5; ++i) bench::writeFile(config / ("basic/scenes/S" + std::to_string(i) + ".json"), bench::generateSceneCollection(1'000'000));

    Host host = Host::system();
    host.resourceFolder = BUNDLE_RESOURCES;
    host.obsApplication = FAKE_OBS_BUNDLE;
    host.obsStudioApplication = FAKE_OBS_BUNDLE;
    host.launchctl = STANDIN_LAUNCHCTL;
    InstallerApp app(host, home);
    app.applicationDidFinishLaunching();

    const pid_t obs = startFakeObs(dir.path(), quitAfterMs);
    for (int i = 0; i < 200 && !fs::exists(dir.path() / "fake-obs.log"); ++i) ::usleep(10000);
    std::atomic<qint64> obsGoneAt{-1};
    QElapsedTimer clock;
    clock.start();
    std::thread reaper([&] {
        ::waitpid(obs, nullptr, 0);
        obsGoneAt = clock.nsecsElapsed();
    });

    // Accepts the confirmation as a user would.
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible() && box->defaultButton() != nullptr) box->defaultButton()->click();
        }
    });
    accept.start(20);

    Run run;
    qint64 last = -1;
    qint64 installingAt = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) run.longestStall = std::max(run.longestStall, now - last);
        last = now;
        if (installingAt < 0 && app.status()->text().startsWith("Installing")) installingAt = now;
        if (app.flow().state() == InstallFlow::State::installed || app.flow().state() == InstallFlow::State::failed) {
            QApplication::quit();
        }
    });
    probe.start(1);
    QTimer::singleShot(50, [&] { app.button()->click(); });
    QApplication::exec();
    reaper.join();

    run.installed = app.flow().state() == InstallFlow::State::installed;
    run.status = app.status()->text().toStdString();
    run.reaction = installingAt - obsGoneAt;
    bench::stopAgents(STANDIN_LAUNCHCTL);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Quit moments spread over one scan step, a second after OBS is asked to quit.
    const int quitMoments[] = {1000, 1063, 1125, 1188};
    int installed = 0;
    std::string failure;
    qint64 longestStall = 0;
    qint64 fastest = std::numeric_limits<qint64>::max();
    qint64 slowest = 0;
    for (const int quitAfterMs : quitMoments) {
        const Run run = runOnce(quitAfterMs);
        if (run.installed) ++installed;
        if (!run.installed) failure = run.status;
        longestStall = std::max(longestStall, run.longestStall);
        fastest = std::min(fastest, run.reaction);
        slowest = std::max(slowest, run.reaction);
    }
    const int runs = static_cast<int>(std::size(quitMoments));
    std::printf("window/installation_outcome        %s\n",
                installed == runs ? ("installed, " + std::to_string(runs) + " of " + std::to_string(runs)).c_str()
                                  : failure.c_str());
    std::printf("window/longest_main_thread_stall   %.1f ms over %d installations (goal: at most 50 ms)\n",
                static_cast<double>(longestStall) / 1e6, runs);
    std::printf("window/obs_quit_to_installing      %.1f to %.1f ms over %d quit moments (goal: at the next 250 ms scan)\n",
                static_cast<double>(fastest) / 1e6, static_cast<double>(slowest) / 1e6, runs);
    return installed == runs ? 0 : 1;
}
