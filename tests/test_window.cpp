#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

#include "app/InstallerApp.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace morvanta {
namespace {

const fs::path artifacts = fs::path(MORVANTA_BUILD_DIR) / "artifacts";

struct Frame {
    const char* text;
    int top;
    int height;
    int pixelSize;
    bool bold;
};

// Closes every message box that opens, recording its text.
class AlertCloser {
public:
    AlertCloser() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr || !box->isVisible()) continue;
                texts.push_back(box->text().toStdString());
                box->grab().save(QString::fromStdString((artifacts / "window-error-alert.png").string()));
                box->accept();
            }
        });
        timer_.start();
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

template <typename Condition>
bool processEventsUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : app(machine.host(), machine.home()) {
        fs::create_directories(artifacts);
        app.applicationDidFinishLaunching();
    }
    void save(const char* name) {
        app.window()->grab().save(QString::fromStdString((artifacts / name).string()));
    }

    test::TestMachine machine;
    InstallerApp app;
};

TEST_F(WindowTest, ShowsItsFixedContent) {
    QWidget* window = app.window();
    EXPECT_EQ(window->windowTitle().toStdString(), "Morvanta Radidor for OBS");
    EXPECT_EQ(window->size(), QSize(520, 340));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

    const std::vector<Frame> frames = {
        {"Morvanta Radidor", 38, 42, 28, true},
        {"One installer for the OBS output and local relay.\nUn instalador para la salida de OBS y el repetidor local.", 92,
         58, 15, false},
        {"OBS Studio must be installed. Your recording and streaming controls remain independent.\nOBS Studio debe estar "
         "instalado. La grabaci\u00F3n y la transmisi\u00F3n siguen independientes.",
         162, 70, 12, false},
        {"", 273, 42, 12, false},
    };
    const auto labels = window->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const Frame& frame = frames[static_cast<size_t>(i)];
        QLabel* label = labels[i];
        EXPECT_EQ(label->text().toStdString(), frame.text);
        EXPECT_EQ(label->geometry(), QRect(35, frame.top, 450, frame.height)) << frame.text;
        EXPECT_EQ(label->font().pixelSize(), frame.pixelSize) << frame.text;
        EXPECT_EQ(label->font().bold(), frame.bold) << frame.text;
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        EXPECT_LE(label->heightForWidth(450), frame.height) << "the text fits its frame: " << frame.text;
    }
    EXPECT_EQ(app.status(), labels[3]);
    EXPECT_EQ(app.button()->text().toStdString(), "Install / Instalar");
    EXPECT_EQ(app.button()->geometry(), QRect(315, 243, 170, 32));
    EXPECT_TRUE(app.button()->isEnabled());
    save("window-idle.png");
}

TEST_F(WindowTest, AClickRunsAWholeFlowThatFailsAtAKnownStep) {
    AlertCloser closer;
    app.button()->click();
    const std::string missingObs = "OBS Studio is not installed. / OBS Studio no est\u00E1 instalado.";
    ASSERT_TRUE(processEventsUntil([&] { return app.flow().state() == InstallFlow::State::failed; }));
    ASSERT_TRUE(processEventsUntil([&] { return !closer.texts.empty(); }));
    EXPECT_EQ(closer.texts, std::vector<std::string>{missingObs});
    EXPECT_EQ(app.status()->text().toStdString(), missingObs);
    EXPECT_TRUE(app.button()->isEnabled());
    EXPECT_EQ(app.button()->text().toStdString(), "Install / Instalar");
    save("window-failed.png");
}

}  // namespace
}  // namespace morvanta

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
