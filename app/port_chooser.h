// The window's port row at work: fills it with the machine's serial ports, follows plugging and
// unplugging through a udev monitor, stores the port the user chooses and hands it to the link
// at once, and says in the status line when the port is gone or another program holds it. The
// ports are listed off the window's thread (app/port_lister.h); each listing is shown when it
// comes.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/port_lister.h"
#include "link/device_monitor.h"
#include "link/port_list.h"

class QSocketNotifier;

namespace kestrune {

class ReceiverLink;
class SettingsWindow;

class PortChooser : public QObject {
    Q_OBJECT

  public:
    // The choice is stored in the settings file at storePath. The port row shows the link's
    // port at once, and the listed ports once the first listing comes.
    PortChooser(ReceiverLink& link, SettingsWindow& window, QString storePath);
    ~PortChooser() override;

    // Lists the ports again; when the listing comes, it shows the link's port, unless the user
    // is typing in the row, and reopens the port when it has come back.
    void refresh();
    // Says in the status line what keeps the port from opening, if anything does; a busy port's
    // holder is named once a fresh listing has found it.
    void showProblem();

  signals:
    // A listing has been shown.
    void listed();
    // Emitted on the lister's thread; received queued, on the window's.
    void surveyCame();

  private:
    void choose(const QString& name);
    void onDevicesChanged();
    void takeSurvey();
    void onSurvey(const PortSurvey& survey);
    void sayProblem();
    // "ttyUSB0 (USB Serial Adapter)", "SIM1", "ttyUSB0 (gone)".
    QString describe(const std::string& portName) const;

    ReceiverLink& link_;
    SettingsWindow& window_;
    const QString storePath_;
    std::vector<ListedPort> ports_;
    // From the last listing: why it failed, if it did, and the holder of the port it asked of.
    std::string listingFailure_;
    std::string surveyedDevice_;
    std::optional<PortHolder> holder_;
    std::unique_ptr<DeviceMonitor> monitor_;
    QSocketNotifier* notifier_ = nullptr;
    // The newest survey from the lister, until the window's thread takes it; one that comes
    // while another waits replaces it.
    std::mutex surveyMutex_;
    std::optional<PortSurvey> pendingSurvey_;
    // Last, so it is gone, its thread ended, before anything its results reach.
    std::unique_ptr<PortLister> lister_;
};

}  // namespace kestrune
