// Runs kestrunectl as a process and collects what it writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::test {

struct Outcome {
    int status = -1;
    std::string out, err;
};

inline constexpr std::chrono::seconds kHangGuard{120};

// A pipe, or a pseudo-terminal whose slave is opened here so that it never reads as hung up
// before the program has it.
inline bool openStderr(bool terminal, std::array<int, 2>& err) {
    if (!terminal) {
        return ::pipe2(err.data(), O_CLOEXEC) == 0;
    }
    err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    return err[0] >= 0 && ::grantpt(err[0]) == 0 && ::unlockpt(err[0]) == 0 &&
           (err[1] = ::open(::ptsname(err[0]), O_RDWR | O_NOCTTY | O_CLOEXEC)) >= 0;
}

inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// In place of a signal: the program's output is closed, as by a reader that has had enough.
inline constexpr int kCloseOutput = 0;

// Runs the program. Given interruptOn, stderr is a terminal (so the progress line is drawn) and
// the signal is sent once that text has shown so many times on stdout and stderr together; or,
// given instead, what the test does then.
inline Outcome runProgram(std::vector<std::string> args, const std::string& interruptOn = {},
                          std::size_t times = 1, int signal = SIGINT,
                          const std::function<void()>& instead = {}) {
    args.insert(args.begin(), KESTRUNECTL);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::array<int, 2> out{}, err{};
    Outcome outcome;
    if (::pipe2(out.data(), O_CLOEXEC) != 0 || !openStderr(!interruptOn.empty(), err)) {
        return outcome;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    // Only a hang guard: a program still running then is killed and the run fails.
    const auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
    std::array<pollfd, 2> watch{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    const std::array<std::string*, 2> into{&outcome.out, &outcome.err};
    bool signalled = interruptOn.empty();
    while ((watch[0].fd >= 0 || watch[1].fd >= 0) && std::chrono::steady_clock::now() < giveUp) {
        ::poll(watch.data(), watch.size(), 200);  // milliseconds
        // Reads what is there on each stream; a stream that ends is closed and dropped (poll
        // skips a negative descriptor).
        for (std::size_t i = 0; i < watch.size(); ++i) {
            std::array<char, 4096> chunk{};
            if (watch[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(watch[i].fd, chunk.data(), chunk.size());
            if (got > 0) {
                into[i]->append(chunk.data(), static_cast<std::size_t>(got));
            } else if (!(got < 0 && errno == EINTR)) {
                ::close(watch[i].fd);
                watch[i].fd = -1;
            }
        }
        if (!signalled && countOf(outcome.out + outcome.err, interruptOn) >= times) {
            if (instead) {
                instead();
                signalled = true;
            } else {
                signalled = signal == kCloseOutput ? ::close(std::exchange(watch[0].fd, -1)) == 0
                                                   : ::kill(pid, signal) == 0;
            }
        }
    }
    if (watch[0].fd >= 0 || watch[1].fd >= 0) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

}  // namespace kestrune::test
