#include "tools/kestrunectl/failure_text.h"

#include "link/port_holder.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/settings_file.h"

namespace kestrune::ctl {

namespace {

std::string checkCable() {
    return "check the cable, the receiver's power and the port name (-p, or Port in " +
           settingsFileShown() + ")";
}

constexpr const char* kStopGpsd = "gpsd.socket gpsd.service";

constexpr const char* kFindPorts =
    "kestrunectl ports lists the serial ports, kestrunectl find --all searches them all";

std::string busyText(const PortChoice& port) {
    return port.shown + ": port busy, held by " + holderText(findPortHolder(port.device)) +
           "; stop it or free the port (for gpsd: sudo systemctl stop " + kStopGpsd + ")";
}

// What every search tries, as one phrase.
std::string searchedSettings() {
    const std::string fastest = std::to_string(kBaudRates.back().baud);
    const std::string slowest = std::to_string(kBaudRates.front().baud);
    return fastest + " down to " + slowest +
           " bits/s, odd and no parity, one stop bit, a quick pass then a full one";
}

}  // namespace

std::string openFailureText(const PortChoice& port, OpenError error) {
    const std::string& name = port.shown.empty() ? std::string("(no port name)") : port.shown;
    switch (error) {
        case OpenError::Busy:
            return busyText(port);
        case OpenError::PermissionDenied:
            return name +
                   ": permission denied; add yourself to the dialout group (sudo usermod -aG "
                   "dialout $USER) and log in again";
        case OpenError::NotATerminal:
            return name + ": not a terminal device; name the receiver's serial port";
        case OpenError::NotSerialPort:
            return name + ": not a serial port, left unopened; " + kFindPorts;
        case OpenError::OwnTerminal:
            return name +
                   ": this is your own terminal, the one kestrunectl runs from, left unopened; "
                   "name the receiver's serial port (" +
                   kFindPorts + ")";
        case OpenError::Failed:
            return name + ": the device refused to open; unplug and replug it, or try another port";
        case OpenError::NoSuchDevice:
        case OpenError::None:
            break;
    }
    return name + ": no such device, it does not exist; " + kFindPorts + "; " + checkCable();
}

std::string listingFailureText(const std::string& failure) {
    return "the device list could not be read (" + failure +
           "); name the port with -p, or check that /sys is mounted and udev runs";
}

std::string gpsdNoAccessText(const PortChoice& port, const std::string& socketPath) {
    return port.shown + ": port busy, held by gpsd, and this user may not use its control socket " +
           socketPath + "; run kestrunectl with sudo, or stop gpsd first (sudo systemctl stop " +
           kStopGpsd + ") and start it again afterwards";
}

std::string gpsdFailureText(const PortChoice& port, const std::string& socketPath) {
    return port.shown + ": gpsd was asked through " + socketPath +
           " to let go of the port, but it is still busy; stop gpsd (sudo systemctl stop " +
           kStopGpsd + ") and try again, or use --no-gpsd to see who holds it";
}

std::string notFoundText(const PortChoice& port) {
    return port.shown + ": no receiver answered (tried " + searchedSettings() + "); " +
           checkCable();
}

std::string notTsipText(const PortChoice& port, const LineSettings& line) {
    return port.shown + ": NMEA at " + lineText(line) + " from a device that does not answer TSIP";
}

std::string deviceGoneText(const PortChoice& port, const std::string& known) {
    const std::string state = known.empty() ? std::string() : "; " + known;
    return port.shown + ": device disconnected" + state +
           "; plug it back in and run the command again";
}

std::string verifiedState(const LineSettings& line, OutputProtocol protocol) {
    return "the receiver answered at " + lineText(line) + " " + std::string(protocolText(protocol));
}

// The reset, the configuration and the check each move the receiver on, and the device can go
// between any two of them.
std::string applyingState(const std::string& found, const ReceiverConfig& config) {
    const std::string before = found.empty() ? std::string() : " (before that, " + found + ")";
    return "set was applying " + lineText(config.line) + " " +
           std::string(protocolText(config.protocol)) +
           ", so the receiver may be where it was, at " + lineText(kFactoryLine) +
           " TSIP after the reset, or at the new settings" + before;
}

std::string resettingState() {
    return "the line break may or may not have returned the receiver to " + lineText(kFactoryLine) +
           " TSIP";
}

std::string noSelectionText(const PortChoice& port) {
    return port.shown +
           ": the receiver did not report its NMEA sentence selection; run the command again";
}

std::string resetFailureText(const PortChoice& port) {
    return port.shown + ": the receiver did not answer at " + lineText(kFactoryLine) +
           " after the line break; check the cable and power (some adapters do not pass a break)";
}

std::string applyFailureText(const PortChoice& port, ApplyFailure failure,
                             const ReceiverConfig& config) {
    switch (failure) {
        case ApplyFailure::Reset:
            return resetFailureText(port);
        case ApplyFailure::Rejected:
            return port.shown + ": the receiver rejected the configuration " +
                   lineText(config.line) +
                   " eight times; run kestrunectl show, then try again or other settings";
        case ApplyFailure::NoAnswerAtNewSettings:
        case ApplyFailure::None:
            break;
    }
    return port.shown + ": the receiver did not answer at the new settings " +
           lineText(config.line) + "; kestrunectl reset returns it to " + lineText(kFactoryLine);
}

std::string interruptedApplyText(const PortChoice& port, const ReceiverConfig& config) {
    return port.shown +
           ": stopped after the new configuration went out; the receiver may now be at " +
           lineText(config.line) + " " + std::string(protocolText(config.protocol)) +
           " (kestrunectl find looks for it; kestrunectl reset returns it to " +
           lineText(kFactoryLine) + ")";
}

std::string saveFailureText(const PortChoice& port, SaveOutcome outcome) {
    const std::string what = port.shown + ": " + std::string(saveOutcomeText(outcome));
    if (outcome == SaveOutcome::CannotSave) {
        return what + "; run kestrunectl set again after each power-up";
    }
    return what +
           "; a receiver sending NMEA cannot answer, so set --format tsip --save, or run "
           "kestrunectl save again";
}

std::string evenParityWarning(const LineSettings& line) {
    return "warning: a search never tries even parity, so find, show and the window will not "
           "find the receiver at " +
           lineText(line) + " again; kestrunectl reset returns it to " + lineText(kFactoryLine);
}

}  // namespace kestrune::ctl
