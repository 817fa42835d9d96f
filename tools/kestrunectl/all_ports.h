// find --all and show --all: every listed serial port searched at the same time, up to sixteen
// at once, one link each, so on a usual machine the whole search takes as long as the slowest
// port.
#pragma once

#include "tools/kestrunectl/command_line.h"

namespace kestrune::ctl {

// Prints one report per receiver found and says on stderr which ports were skipped, stayed
// silent or had no receiver, and which receiver did not report its sentence selection to show.
// 0 when at least one receiver was found and every one found reported in full, 1 otherwise,
// 128 plus the signal when stopped.
int runAllPorts(const Invocation& invocation);

}  // namespace kestrune::ctl
