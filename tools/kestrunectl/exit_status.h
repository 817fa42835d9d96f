// The exit statuses scripts rely on; the README lists them.
#pragma once

#include <csignal>

namespace kestrune::ctl {

inline constexpr int kExitDone = 0;
// The receiver did not answer, or refused what it was sent.
inline constexpr int kExitNoAnswer = 1;
inline constexpr int kExitUsage = 2;
// The port cannot be opened, or its device went away mid-command.
inline constexpr int kExitPortFailed = 3;
// A stop signal ends a command with 128 plus its number: 130 for Ctrl-C, 143 for SIGTERM.
inline constexpr int kExitSignalBase = 128;
// Whatever read the output went away: the status a shell gives a program SIGPIPE ended, but
// reached by a normal exit, with the port put back.
inline constexpr int kExitOutputClosed = kExitSignalBase + SIGPIPE;

}  // namespace kestrune::ctl
