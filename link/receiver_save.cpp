#include "link/receiver_save.h"

#include "link/receiver_link.h"
#include "protocol/tsip_commands.h"

namespace kestrune {

SaveOutcome saveConfiguration(ReceiverLink& link) {
    if (!link.isOpen()) {
        return SaveOutcome::NotConfirmed;
    }
    // Armed before the write: a fast answer is not missed.
    EventWait answer(link.saveEvent(), link.rejectEvent(), &link.cancellation());
    (void)link.write(saveConfigCommand());
    switch (answer.wait(link.timing().saveWait)) {
        case WaitResult::First:
            return SaveOutcome::Saved;
        case WaitResult::Second:
            return SaveOutcome::CannotSave;
        case WaitResult::Cancelled:
        case WaitResult::TimedOut:
            break;
    }
    return SaveOutcome::NotConfirmed;
}

std::string_view saveOutcomeText(SaveOutcome outcome) {
    switch (outcome) {
        case SaveOutcome::Saved:
            return "saved in the receiver";
        case SaveOutcome::CannotSave:
            return "this receiver cannot save; the settings last until its power is lost";
        case SaveOutcome::NotConfirmed:
            break;
    }
    return "the receiver did not confirm the save";
}

}  // namespace kestrune
