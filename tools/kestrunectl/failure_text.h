// The one-line messages for what can go wrong: each names the cause and what to do.
#pragma once

#include <string>

#include "link/receiver_procedures.h"
#include "link/receiver_save.h"
#include "link/serial_opener.h"
#include "tools/kestrunectl/port_choice.h"

namespace kestrune::ctl {

// Why the port would not open; a busy port names its holder when one can be found.
std::string openFailureText(const PortChoice& port, OpenError error);
// The serial ports could not be listed; failure says why (see PortListing).
std::string listingFailureText(const std::string& failure);
// gpsd holds the port and its control socket is there, but this user may not use it.
std::string gpsdNoAccessText(const PortChoice& port, const std::string& socketPath);
// gpsd was asked to let go of the port, but it stayed busy or the socket failed.
std::string gpsdFailureText(const PortChoice& port, const std::string& socketPath);
// No receiver answered anywhere the search looked.
std::string notFoundText(const PortChoice& port);
// Checked sentences at line, but no answer once asked to switch to TSIP.
std::string notTsipText(const PortChoice& port, const LineSettings& line);
// The device went away; known says what is known of the receiver then, if anything.
std::string deviceGoneText(const PortChoice& port, const std::string& known = {});
// What is known of the receiver once it answered at a line, and once set began to apply config
// (found: what was known before, or empty).
std::string verifiedState(const LineSettings& line, OutputProtocol protocol);
std::string applyingState(const std::string& found, const ReceiverConfig& config);
std::string resettingState();
std::string noSelectionText(const PortChoice& port);
std::string resetFailureText(const PortChoice& port);
std::string applyFailureText(const PortChoice& port, ApplyFailure failure,
                             const ReceiverConfig& config);
// set stopped (a stop signal, the device gone) once the configuration had gone out: what the
// receiver was told, so the user knows where to look for it.
std::string interruptedApplyText(const PortChoice& port, const ReceiverConfig& config);
// A save that was not confirmed, or that the receiver cannot make.
std::string saveFailureText(const PortChoice& port, SaveOutcome outcome);
// For a configuration that a later search cannot find again.
std::string evenParityWarning(const LineSettings& line);

}  // namespace kestrune::ctl
