// The window's three buttons and the display of the receiver's settings. Each command runs to
// the end on the window's thread, with the wait cursor shown; notifications the reader posts
// meanwhile are handled once it returns.
#pragma once

namespace kestrune {

class SettingsWindow;

// Status texts; each begins with two spaces.
inline constexpr char kSearchingStatus[] = "  Searching for receiver...";
inline constexpr char kNotFoundStatus[] = "  Unable to find GPS receiver";
inline constexpr char kApplyingStatus[] = "  Applying new settings...";
inline constexpr char kApplyFailedStatus[] = "  Unable to apply new settings";
inline constexpr char kResettingStatus[] = "  Resetting...";
inline constexpr char kResetDoneStatus[] = "  Receiver set to 9600,8,None,1,TSIP";
inline constexpr char kResetFailedStatus[] = "  Reset failure";

// Selects the link's verified settings in the lists, enables the sentence boxes for NMEA only,
// and says what was selected in the status line. False, changing nothing, while unverified.
bool showReceiverSettings(SettingsWindow& window);

// Searches for the receiver unless its settings are already verified, and shows them.
void onGetSettings(SettingsWindow& window);
// Moves the receiver to the chosen settings, format and sentences, then finds and shows it.
void onApplySettings(SettingsWindow& window);
// Brings the receiver back to its factory port settings.
void onResetReceiver(SettingsWindow& window);

}  // namespace kestrune
