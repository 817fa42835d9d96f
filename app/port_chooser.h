// The window's port row at work: fills it with the machine's serial ports, follows plugging and
// unplugging through a udev monitor, stores the port the user chooses and hands it to the link
// at once, and says in the status line when the port is gone or another program holds it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "link/device_monitor.h"
#include "link/port_list.h"

class QSocketNotifier;

namespace kestrune {

class ReceiverLink;
class SettingsWindow;

class PortChooser : public QObject {
    Q_OBJECT

  public:
    // The choice is stored in the settings file at storePath.
    PortChooser(ReceiverLink& link, SettingsWindow& window, QString storePath);
    ~PortChooser() override;

    // Lists the ports again and shows the link's port; reopens it when it has come back.
    void refresh();
    // Says in the status line what keeps the port from opening, if anything does.
    void showProblem();

  private:
    void choose(const QString& name);
    void onDevicesChanged();
    // "ttyUSB0 (USB Serial Adapter)", "SIM1", "ttyUSB0 (gone)".
    QString describe(const std::string& portName) const;

    ReceiverLink& link_;
    SettingsWindow& window_;
    const QString storePath_;
    std::vector<ListedPort> ports_;
    std::unique_ptr<DeviceMonitor> monitor_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestrune
