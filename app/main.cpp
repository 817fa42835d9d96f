// The settings utility: one copy at a time, one link to the receiver, one window.
#include <QApplication>

#include "app/command_line.h"
#include "app/panel_store.h"
#include "app/port_chooser.h"
#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "app/signal_closer.h"
#include "app/signal_poller.h"
#include "app/startup.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

int main(int argc, char* argv[]) {
    kestrune::answerHelpOrVersion(argc, argv);
    // A second copy leaves at once, showing nothing and leaving the first alone.
    kestrune::SingleInstanceGuard guard;
    if (!guard.acquire()) {
        return 0;
    }
    // The virtual receivers run at real time, as a real receiver would.
    kestrune::SimulatedDevices devices;
    kestrune::ReceiverLink link(kestrune::Timing{}, devices.routePortNames());
    // The command line is accepted and ignored, beyond what the toolkit takes from it.
    QApplication application(argc, argv);
    kestrune::loadPortName(link);
    kestrune::SettingsWindow window;
    const QString storePath = kestrune::defaultPortStorePath();
    window.setSaveInReceiver(kestrune::loadSaveChoice(storePath));
    QObject::connect(&window, &kestrune::SettingsWindow::saveInReceiverChanged,
                     [storePath](bool save) { (void)kestrune::storeSaveChoice(save, storePath); });
    const kestrune::SettingsController controller(link, window);
    // SIGTERM, SIGHUP and the other stop signals close the window as its close box does, so the
    // port is put back before the program ends.
    const kestrune::SignalCloser closer(window);
    kestrune::PortChooser ports(link, window, storePath);
    QObject::connect(&controller, &kestrune::SettingsController::portUnavailable, &ports,
                     &kestrune::PortChooser::showProblem);
    const kestrune::SignalPoller poller(link, controller, window);
    kestrune::keepPanelFolding(window.signalPanel(), kestrune::defaultPortStorePath());
    return window.exec();
}
