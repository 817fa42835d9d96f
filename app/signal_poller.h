// Asks the receiver for its signal levels once a second, for a receiver that does not send them
// on its own. Only while the window is idle and the receiver found speaks TSIP: a command's
// questions and answers must have the line to themselves, and an NMEA receiver could not answer.
#pragma once

#include <QObject>
#include <QTimer>

namespace kestrune {

class ReceiverLink;
class SettingsController;
class SettingsWindow;

class SignalPoller : public QObject {
    Q_OBJECT

  public:
    // All three must outlive the poller.
    SignalPoller(ReceiverLink& link, const SettingsController& controller,
                 const SettingsWindow& window);

    // What a tick does: asks, if the line is free for it; true when it asked.
    bool pollNow();

  private:
    ReceiverLink& link_;
    const SettingsController& controller_;
    const SettingsWindow& window_;
    QTimer timer_;
};

}  // namespace kestrune
