// Keeping the configuration through power-off. The program asks with 0x8E-26, and receivers
// answer in one of three ways: a 0x8F-26 report; a restart, after which they send their
// software version report (0x45) at the saved settings; or a 0x13, from a receiver without
// non-volatile memory that cannot parse the command. Anything else heard meanwhile is no answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "protocol/tsip_identity.h"

namespace kestrune {

inline constexpr std::uint8_t kIdSuperCommand = 0x8E;
inline constexpr std::uint8_t kIdSuperReport = 0x8F;
inline constexpr std::uint8_t kSubcodeSaveConfig = 0x26;
// The report a restarted receiver sends first, once it is up at the saved settings.
inline constexpr std::uint8_t kIdRestartReport = kIdSoftwareVersion;

// How long a save may take to be answered: writing non-volatile memory and, for a receiver that
// restarts to do it, the restart itself, which takes a receiver a few seconds before its first
// report; the same bound as the wait for an answer at new settings.
inline constexpr std::chrono::milliseconds kSaveAnswerWait{5000};

// True for a 0x8F-26 report or a 0x45 software version report: the two answers that say the
// configuration was kept. message is a framed message, ID first.
constexpr bool confirmsSave(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return false;
    }
    if (message[0] == kIdRestartReport) {
        return true;
    }
    return message[0] == kIdSuperReport && message.size() > 1 && message[1] == kSubcodeSaveConfig;
}

}  // namespace kestrune
