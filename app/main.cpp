// The installer's entry: the application object, its delegate, and the event loop.
#include <QApplication>
#include <QTimer>

#include "app/InstallerApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);
    morvanta::InstallerApp delegate(morvanta::Host::system(), morvanta::currentUserHome());
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
