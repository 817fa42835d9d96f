// find --all and show --all: every listed serial port searched at the same time, one link and
// one thread each, so the whole search takes as long as the slowest port.
#pragma once

#include "tools/kestrunectl/command_line.h"

namespace kestrune::ctl {

// Prints one report per receiver found and says on stderr which ports were skipped, stayed
// silent or had no receiver. 0 when at least one receiver was found, 1 when none was, 128 plus
// the signal when stopped.
int runAllPorts(const Invocation& invocation);

}  // namespace kestrune::ctl
