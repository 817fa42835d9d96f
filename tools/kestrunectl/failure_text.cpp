#include "tools/kestrunectl/failure_text.h"

#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/port_holder.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kCheckCable =
    "check the cable, the receiver's power and the port name (-p, or Port in "
    "~/.config/Quenterra/Kestrune.conf)";

std::string busyText(const PortChoice& port) {
    const std::optional<PortHolder> holder = findPortHolder(port.device);
    const std::string who = holder ? holder->name + " (pid " + std::to_string(holder->pid) + ")"
                                   : std::string("another program");
    return port.shown + ": port busy, held by " + who +
           "; stop it or free the port (for gpsd: sudo systemctl stop gpsd.socket gpsd)";
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
        case OpenError::Failed:
            return name + ": the device refused to open; unplug and replug it, or try another port";
        case OpenError::NoSuchDevice:
        case OpenError::None:
            break;
    }
    return name + ": no such device; " + kCheckCable;
}

std::string notFoundText(const PortChoice& port) {
    return port.shown + ": no receiver answered (tried " + searchedSettings() + "); " + kCheckCable;
}

std::string deviceGoneText(const PortChoice& port) {
    return port.shown + ": device disconnected; plug it back in and run the command again";
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

std::string evenParityWarning(const LineSettings& line) {
    return "warning: a search never tries even parity, so find, show and the window will not "
           "find the receiver at " +
           lineText(line) + " again; kestrunectl reset returns it to " + lineText(kFactoryLine);
}

}  // namespace kestrune::ctl
