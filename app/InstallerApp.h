#pragma once

#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "app/InstallFlow.h"
#include "app/QtFlowPlatform.h"
#include "engine/Host.h"

namespace morvanta {

// The application's delegate and the owner of its one window, with the install button and the
// status line. Lives for the whole run on the main thread.
class InstallerApp : public QObject, public FlowView {
public:
    // `host` is what each installation reaches outside the home; `home` is the user's home.
    InstallerApp(Host host, std::filesystem::path home);
    ~InstallerApp() override;

    // Builds the window (title, heading, summary, note, empty status line, install button at
    // their fixed frames) and shows it in front. Called once, after the event loop has started.
    void applicationDidFinishLaunching();
    // The install button's action.
    void beginInstall();

    QWidget* window() const { return window_.get(); }
    QPushButton* button() const { return button_; }
    QLabel* status() const { return status_; }
    const InstallFlow& flow() const { return flow_; }

    void setButtonEnabled(bool enabled) override;
    void setButtonTitle(const std::string& title) override;
    void setStatus(const std::string& text) override;
    int runModal(const Alert& alert) override;
    void showError(const std::string& description) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* addLabel(const char* text, int top, int height, int pixelSize, bool bold);

    std::unique_ptr<QWidget> window_;
    QPushButton* button_ = nullptr;
    QLabel* status_ = nullptr;
    QtFlowPlatform platform_;
    InstallFlow flow_;
};

// The current user's home folder, from the user database.
std::filesystem::path currentUserHome();

}  // namespace morvanta
