// What the window's three buttons do, on the program's one link: each command runs the receiver
// procedures off the window's thread, with the window busy, and reports the outcome in the
// window's status line and lists on the window's thread.
#pragma once

#include <QObject>

#include "app/command_runner.h"
#include "link/receiver_identity.h"

namespace kestrune {

class ReceiverLink;
class SettingsWindow;

// Status texts; each begins with two spaces.
inline constexpr char kSearchingStatus[] = "  Searching for receiver...";
inline constexpr char kNotFoundStatus[] = "  Unable to find GPS receiver";
inline constexpr char kApplyingStatus[] = "  Applying new settings...";
inline constexpr char kApplyFailedStatus[] = "  Unable to apply new settings";
inline constexpr char kResettingStatus[] = "  Resetting...";
inline constexpr char kResetDoneStatus[] = "  Receiver set to 9600,8,None,1,TSIP";
inline constexpr char kResetFailedStatus[] = "  Reset failure";

class SettingsController : public QObject {
    Q_OBJECT

  public:
    // Connects itself to the window's buttons and close box. Both must outlive it.
    SettingsController(ReceiverLink& link, SettingsWindow& window);
    // Ends the running command, closes the link and detaches the window from it.
    ~SettingsController() override;

    // Each command does nothing while another one runs. A command that finds the link closed,
    // or its device gone, first opens the port again by its stored name.

    // Searches for the receiver unless its settings are already verified, and shows them.
    void getSettings();
    // Moves the receiver to the chosen settings, format and sentences, then finds and shows it.
    void applySettings();
    // Brings the receiver back to its factory port settings.
    void resetReceiver();
    bool running() const { return runner_.running(); }

  signals:
    // A command failed because the port is closed or its device gone: whoever watches the port
    // says why in the status line.
    void portUnavailable();

  private:
    // Runs work off the window's thread with the window busy, then its finish on the window's
    // thread.
    void runCommand(CommandRunner::Work work);
    // Shows the link's verified settings; false, changing nothing, while unverified.
    bool showReceiverSettings();
    // Shows the settings if the search found them, else says the receiver was not found.
    void showSearchOutcome(bool found, const ReceiverIdentity& identity);
    void sayIfPortLost();
    bool searchAndIdentify(ReceiverIdentity& identity);
    // Cancels the running command without waiting it out, then closes the link.
    void stop();

    ReceiverLink& link_;
    SettingsWindow& window_;
    CommandRunner runner_;
};

}  // namespace kestrune
