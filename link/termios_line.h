// How the program's line settings are written into and read out of a terminal's attributes. The
// line is always raw: bytes pass unaltered both ways, 8 data bits, no flow control.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

#include "protocol/receiver_settings.h"

namespace kestrune {

// The termios speed of a rate the receiver offers; nothing for any other rate.
std::optional<speed_t> termiosSpeed(std::uint32_t baud);
// The rate the receiver offers at a termios speed; nothing for any other speed.
std::optional<std::uint32_t> offeredBaud(speed_t speed);

// Makes attributes describe a raw line at the given speed, parity and stop bits. False, with
// attributes untouched, for a rate the receiver does not offer.
bool composeLine(termios& attributes, const LineSettings& settings);

// The speed, parity and stop bits attributes describe; false for a speed the program never sets.
bool lineSettingsOf(const termios& attributes, LineSettings& settings);

}  // namespace kestrune
