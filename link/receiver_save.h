// Asking the receiver to keep its configuration through power-off, and what its answer means.
// A receiver that has been found or just set up is asked once and given the link's save wait.
#pragma once

#include <string_view>

namespace kestrune {

class ReceiverLink;

enum class SaveOutcome {
    Saved,         // a 0x8F-26 report, or the restart's software version report
    CannotSave,    // a 0x13: no non-volatile memory; the settings last until power is lost
    NotConfirmed,  // nothing within the wait, a closed link or a cancel
};

// Sends the save command at the link's current settings and waits for the answer. A restart
// brings the receiver up at the settings just saved, so the link stays verified there.
SaveOutcome saveConfiguration(ReceiverLink& link);

// The words the command line and the window both use for an outcome.
std::string_view saveOutcomeText(SaveOutcome outcome);

}  // namespace kestrune
