// Asking the receiver to keep its configuration in force through a power cycle.
#pragma once

#include <string_view>

namespace kestrune {

class ReceiverLink;

enum class SaveOutcome {
    Saved,         // the receiver confirmed it
    CannotSave,    // it refused the command: it has nowhere to keep the configuration
    NotConfirmed,  // no confirmation came within the wait
};

// Sends the save command at the link's current settings and waits for the receiver's answer.
SaveOutcome saveConfiguration(ReceiverLink& link);
// "saved", "cannot save", "not confirmed".
std::string_view saveOutcomeText(SaveOutcome outcome);

}  // namespace kestrune
