// Runs a command with stdout sent to /dev/null, so that a benchmark times the command and not
// the terminal that shows its reports.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace kestrune::bench {

inline int quietly(const std::function<int()>& run) {
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDOUT_FILENO);
    const int status = run();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(null);
    ::close(saved);
    return status;
}

}  // namespace kestrune::bench
