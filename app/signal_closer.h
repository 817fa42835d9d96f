// The stop signals (link/stop_signals.h), SIGTERM and SIGHUP first among them, as the window's
// close box: the window then stops the command under way and closes the port, which puts it
// back as it was, before the program ends with status 0. A signal handler may do almost
// nothing, so it writes the signal's number to a pipe, and a notifier on the window's thread
// reads it and closes the window.
#pragma once

#include <QObject>
#include <array>

class QSocketNotifier;
class QWidget;

namespace kestrune {

class SignalCloser : public QObject {
    Q_OBJECT

  public:
    // Takes the stop signals for as long as it lives; the window must outlive it. One at a
    // time: a second one takes nothing.
    explicit SignalCloser(QWidget& window);
    ~SignalCloser() override;
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

    // The signals are taken (the pipe could be made, and no other closer has them).
    bool active() const { return notifier_ != nullptr; }

  private:
    void onSignal();

    QWidget& window_;
    std::array<int, 2> pipe_{-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestrune
