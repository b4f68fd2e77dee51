#include "app/InstallerApp.h"

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdlib>

#include "engine/Installer.h"
#include "platform/FileManager.h"

namespace morvanta {

namespace {

constexpr int windowWidth = 520;
constexpr int windowHeight = 340;
constexpr int labelLeft = 35;
constexpr int labelWidth = 450;

QString qt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

std::filesystem::path currentUserHome() {
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] != '\0') return entry->pw_dir;
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "/";
}

InstallerApp::InstallerApp(Host host, std::filesystem::path home)
    : platform_(*this, *host.workspace),
      flow_(*this, platform_,
            [host, home] { Installer(FileManager::shared(), home, host).install(); },
            {host.obsApplication, host.obsStudioApplication}) {}

InstallerApp::~InstallerApp() = default;

void InstallerApp::applicationDidFinishLaunching() {
    window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                                     Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    window_->setWindowTitle("Morvanta Radidor for OBS");
    window_->setFixedSize(windowWidth, windowHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window_->move(area.center() - QPoint(windowWidth / 2, windowHeight / 2));
    }
    addLabel("Morvanta Radidor", 38, 42, 28, true);
    addLabel("One installer for the OBS output and local relay.\n"
             "Un instalador para la salida de OBS y el repetidor local.",
             92, 58, 15, false);
    addLabel("OBS Studio must be installed. Your recording and streaming controls remain independent.\n"
             "OBS Studio debe estar instalado. La grabaci\u00F3n y la transmisi\u00F3n siguen independientes.",
             162, 70, 12, false);
    status_ = addLabel("", 273, 42, 12, false);
    button_ = new QPushButton("Install / Instalar", window_.get());
    button_->setGeometry(315, 243, 170, 32);
    button_->setAutoDefault(false);
    QObject::connect(button_, &QPushButton::clicked, this, [this] { beginInstall(); });
    window_->installEventFilter(this);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QLabel* InstallerApp::addLabel(const char* text, int top, int height, int pixelSize, bool bold) {
    auto* label = new QLabel(QString::fromUtf8(text), window_.get());
    label->setGeometry(labelLeft, top, labelWidth, height);
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

void InstallerApp::beginInstall() { flow_.beginInstall(); }

void InstallerApp::setButtonEnabled(bool enabled) { button_->setEnabled(enabled); }

void InstallerApp::setButtonTitle(const std::string& title) { button_->setText(qt(title)); }

void InstallerApp::setStatus(const std::string& text) { status_->setText(qt(text)); }

int InstallerApp::runModal(const Alert& alert) {
    QMessageBox box(window_.get());
    box.setIcon(QMessageBox::Warning);
    box.setText(qt(alert.message));
    box.setInformativeText(qt(alert.informativeText));
    std::vector<QPushButton*> buttons;
    for (const auto& title : alert.buttons) buttons.push_back(box.addButton(qt(title), QMessageBox::ActionRole));
    if (!buttons.empty()) box.setDefaultButton(buttons.front());
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) return alertFirstButtonReturn + static_cast<int>(i);
    }
    return alertFirstButtonReturn - 1;
}

void InstallerApp::showError(const std::string& description) {
    QMessageBox box(window_.get());
    box.setIcon(QMessageBox::Critical);
    box.setText(qt(description));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool InstallerApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_.get() || event->type() != QEvent::Close || !flow_.busy()) return false;
    // Never cut an installation off: hide now, end the program once its outcome is handled.
    event->ignore();
    window_->hide();
    flow_.whenIdle([] { QCoreApplication::quit(); });
    return true;
}

}  // namespace morvanta
