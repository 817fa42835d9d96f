#include "link/receiver_save.h"

#include <cstdint>

#include "link/receiver_link.h"

namespace kestrune {

namespace {

// 10 8E 26 10 03: save the configuration in force.
constexpr std::uint8_t kIdSuperCommand = 0x8E;
constexpr std::uint8_t kSubcodeSave = 0x26;

}  // namespace

// Only a rejection tells for certain here; a receiver that takes the command restarts or
// confirms it, and either is left to the reader to recognise.
SaveOutcome saveConfiguration(ReceiverLink& link) {
    const std::uint8_t data[] = {kSubcodeSave};
    EventWait rejection(link.rejectEvent(), &link.cancellation());
    if (!link.write(frameTsip(kIdSuperCommand, data))) {
        return SaveOutcome::NotConfirmed;
    }
    return rejection.wait(link.timing().rejectWait) == WaitResult::First
               ? SaveOutcome::CannotSave
               : SaveOutcome::NotConfirmed;
}

std::string_view saveOutcomeText(SaveOutcome outcome) {
    switch (outcome) {
        case SaveOutcome::Saved:
            return "saved";
        case SaveOutcome::CannotSave:
            return "cannot save";
        case SaveOutcome::NotConfirmed:
            break;
    }
    return "not confirmed";
}

}  // namespace kestrune
