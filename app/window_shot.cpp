// Renders the settings window into a PNG for the documentation, through the same window and
// commands the program uses, on a built-in virtual receiver sped up so that the search is quick:
//   kestrune-window-shot OUT.png [SIMn] [--get-settings] [--signal-panel]
// With --signal-panel only the signal panel is rendered.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/panel_store.h"
#include "app/port_chooser.h"
#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "app/signal_panel.h"
#include "app/signal_poller.h"
#include "app/startup.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

namespace {

constexpr double kSpeedUp = 0.05;
constexpr qint64 kExposeLimitMs = 5000;
// Long enough for the search to end and the receiver's sentence report to reach the window.
constexpr qint64 kCommandLimitMs = 10000;
constexpr qint64 kSettleMs = 1000;
constexpr char kGetSettingsOption[] = "--get-settings";
constexpr char kSignalPanelOption[] = "--signal-panel";

bool hasOption(int argc, char* argv[], const char* option) {
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            return true;
        }
    }
    return false;
}

void processEventsFor(qint64 milliseconds, const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool writeStore(const QString& path, const QByteArray& portName) {
    QFile store(path);
    return store.open(QIODevice::WriteOnly) && store.write("Port=" + portName + "\n") > 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [SIMn] [%s] [%s]\n", argv[0], kGetSettingsOption,
                     kSignalPanelOption);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const QByteArray portName = argc > 2 ? QByteArray(argv[2]) : QByteArray("SIM1");
    const bool getSettings = hasOption(argc, argv, kGetSettingsOption);
    const bool panelOnly = hasOption(argc, argv, kSignalPanelOption);

    // A store of its own: the user's settings stay untouched.
    QTemporaryDir folder;
    const QString store = folder.filePath(QStringLiteral("Kestrune.conf"));
    if (!folder.isValid() || !writeStore(store, portName)) {
        std::fprintf(stderr, "cannot write a port store in a temporary folder\n");
        return 1;
    }
    kestrune::SimulatedDevices devices(kSpeedUp);
    kestrune::ReceiverLink link(kestrune::Timing{}.scaled(kSpeedUp), devices.routePortNames());
    kestrune::loadPortName(link, store);
    kestrune::SettingsWindow window;
    kestrune::SettingsController controller(link, window);
    kestrune::PortChooser ports(link, window, store);
    const kestrune::SignalPoller poller(link, controller, window);
    kestrune::keepPanelFolding(window.signalPanel(), store);
    window.show();
    processEventsFor(kExposeLimitMs, [&] {
        return window.windowHandle() != nullptr && window.windowHandle()->isExposed();
    });
    if (getSettings) {
        controller.getSettings();
        processEventsFor(kCommandLimitMs, [&] { return !controller.running(); });
        processEventsFor(kSettleMs, [] { return false; });
    }
    QWidget& shown = panelOnly ? static_cast<QWidget&>(window.signalPanel()) : window;
    if (!shown.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
