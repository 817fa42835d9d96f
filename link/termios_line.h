// How the program's line settings are written into and read out of a terminal's attributes. The
// line is always raw: bytes pass unaltered both ways, 8 data bits, no flow control.
#pragma once

#include <termios.h>

#include "link/platform_services.h"

namespace kestrune {

// Makes attributes describe a raw line at the given speed, parity and stop bits. False, with
// attributes untouched, for a rate outside 1200 to 38400 or an unknown parity code.
bool composeLine(termios& attributes, const LineSettings& settings);

// The speed, parity and stop bits attributes describe; false for a speed the program never sets.
bool lineSettingsOf(const termios& attributes, LineSettings& settings);

}  // namespace kestrune
