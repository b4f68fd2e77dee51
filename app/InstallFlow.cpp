#include "app/InstallFlow.h"

#include <exception>
#include <utility>

#include "engine/Labels.h"

namespace morvanta {

namespace {

const char* const installingText = "Installing\u2026 / Instalando\u2026";
const char* const successText =
    "Installed. Open OBS, then select Morvanta Studio in the app.\n"
    "Instalado. Abre OBS y selecciona Morvanta Studio en la app.";

Alert confirmationAlert() {
    return {"OBS must close to install / OBS debe cerrarse para instalar",
            "Save any work in OBS first. The installer will reopen OBS when finished. / Guarda tu trabajo en OBS. "
            "El instalador lo volver\u00E1 a abrir al terminar.",
            {"Quit OBS and install / Cerrar OBS e instalar", "Cancel / Cancelar"}};
}

// The text the window shows for whatever `install` threw.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "The installation failed for an unknown reason. / La instalaci\u00F3n fall\u00F3 por un motivo desconocido.";
    }
}

}  // namespace

InstallFlow::InstallFlow(FlowView& view, FlowPlatform& platform, std::function<void()> install,
                         std::vector<std::filesystem::path> obsApplications)
    : view_(view), platform_(platform), install_(std::move(install)), obsApplications_(std::move(obsApplications)) {}

bool InstallFlow::busy() const {
    return state_ == State::confirming || state_ == State::quittingObs || state_ == State::installing;
}

void InstallFlow::whenIdle(std::function<void()> action) {
    if (!busy()) return action();
    whenIdle_.push_back(std::move(action));
}

void InstallFlow::beginInstall() {
    if (state_ != State::idle && state_ != State::failed) return;
    const State before = state_;
    const auto found = runningObs();
    if (found.empty()) return startInstalling(false);
    state_ = State::confirming;
    if (!confirmQuit()) {
        state_ = before;
        return finish();
    }
    state_ = State::quittingObs;
    for (const auto& application : found) platform_.terminate(application);
    waitForObsToQuit();
    startInstalling(true);
}

bool InstallFlow::confirmQuit() { return view_.runModal(confirmationAlert()) == alertFirstButtonReturn; }

void InstallFlow::waitForObsToQuit() {
    const auto deadline = platform_.now() + quitTimeout;
    for (;;) {
        if (platform_.now() >= deadline) return;
        if (runningObs().empty()) return;
        platform_.runMainLoopUntil(platform_.now() + waitStep);
    }
}

void InstallFlow::startInstalling(bool obsWasRunning) {
    state_ = State::installing;
    view_.setButtonEnabled(false);
    view_.setStatus(installingText);
    platform_.runInBackground([this, obsWasRunning, install = install_] {
        std::exception_ptr error;
        try {
            install();
        } catch (...) {
            error = std::current_exception();
        }
        if (!error) return platform_.postToMain([this, obsWasRunning] { succeeded(obsWasRunning); });
        platform_.postToMain([this, description = describe(error)] { failed(description); });
    });
}

void InstallFlow::succeeded(bool obsWasRunning) {
    state_ = State::installed;
    view_.setStatus(successText);
    view_.setButtonTitle("Installed / Instalado");
    if (obsWasRunning) platform_.launchApplication(relaunchLocation());
    finish();
}

void InstallFlow::failed(const std::string& description) {
    state_ = State::failed;
    view_.setButtonEnabled(true);
    view_.setStatus(description);
    view_.showError(description);
    finish();
}

void InstallFlow::finish() {
    auto actions = std::exchange(whenIdle_, {});
    for (auto& action : actions) action();
}

std::vector<RunningApplication> InstallFlow::runningObs() {
    std::vector<RunningApplication> found;
    for (const auto& application : platform_.runningApplications()) {
        if (application.bundleIdentifier == obsBundleIdentifier) found.push_back(application);
    }
    return found;
}

std::filesystem::path InstallFlow::relaunchLocation() {
    for (const auto& location : obsApplications_) {
        if (platform_.fileExists(location)) return location;
    }
    return obsApplications_.empty() ? std::filesystem::path() : obsApplications_.front();
}

}  // namespace morvanta
