// The signals that would end the program where it stands, leaving a port it holds in raw mode
// and exclusive, and that it can take instead: every one whose default action ends a process,
// but those its own faults raise (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT),
// which must still end it at once. A program that holds a port takes these and closes the port
// before it exits.
#pragma once

#include <csignal>

namespace kestrune {

sigset_t stopSignals();

}  // namespace kestrune
