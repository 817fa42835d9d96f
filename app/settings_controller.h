// What the window's three buttons do, on the program's one link: each command runs the receiver
// procedures and reports the outcome in the window's status line and lists.
#pragma once

#include <QObject>

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
    ~SettingsController() override;

    // Searches for the receiver unless its settings are already verified, and shows them.
    void getSettings();
    // Moves the receiver to the chosen settings, format and sentences, then finds and shows it.
    void applySettings();
    // Brings the receiver back to its factory port settings.
    void resetReceiver();

  private:
    // Shows the link's verified settings; false, changing nothing, while unverified.
    bool showReceiverSettings();
    void windowClosing();

    ReceiverLink& link_;
    SettingsWindow& window_;
};

}  // namespace kestrune
