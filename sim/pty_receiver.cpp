#include "sim/pty_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "link/port_names.h"
#include "link/termios_line.h"
#include "sim/virtual_receiver.h"

namespace kestrune {

namespace {

// How often the terminal settings are read again while a host is there, and how often a
// missing host is looked for, on the receiver's clock: a sped-up receiver looks as often in its
// own time, so a host's change of settings is not missed between two of its bytes. Both are
// waits in poll, never a spin, and never shorter than the floor.
constexpr std::chrono::milliseconds kSettingsRefresh{10};
constexpr std::chrono::milliseconds kHostCheck{20};
constexpr std::chrono::milliseconds kShortestPoll{1};
constexpr std::size_t kReadChunk = 256;
constexpr std::size_t kMaxPath = 64;
constexpr std::string_view kPtsDirectory = "/dev/pts/";
constexpr std::string_view kPtsPortPrefix = "PTS";
constexpr std::uint8_t kStopSignal = 1;
constexpr int kNoDescriptor = -1;

// Raw bytes on the slave from the start, so nothing the receiver sends before a host configures
// the terminal is echoed back to it as host input.
bool makeSlaveRaw(const char* path) {
    // Closing it again leaves the master hung up until a host opens the slave.
    const FileDescriptor slave(::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios settings{};
    return slave.valid() && ::tcgetattr(slave.get(), &settings) == 0 &&
           composeLine(settings, kFactoryLine) && ::tcsetattr(slave.get(), TCSANOW, &settings) == 0;
}

FileDescriptor openMaster(std::string& slavePath) {
    FileDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.valid()) {
        return master;
    }
    std::array<char, kMaxPath> path{};
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), path.data(), path.size()) != 0 || !makeSlaveRaw(path.data()) ||
        ::fcntl(master.get(), F_SETFL, O_NONBLOCK) != 0) {
        return FileDescriptor{};
    }
    slavePath = path.data();
    return master;
}

int pollMs(const SimClock& clock, std::chrono::milliseconds interval) {
    const auto scaled =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock.scaled(interval));
    return static_cast<int>(std::max(scaled, kShortestPoll).count());
}

short pollNow(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 ? entry.revents : 0;
}

}  // namespace

LineSettings ptyLineSettings(int fd) {
    LineSettings line{0, Parity::None, StopBits::One};
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return line;
    }
    line.baud = offeredBaud(::cfgetospeed(&settings)).value_or(0);
    if (settings.c_cflag & PARODD) {
        line.parity = Parity::Odd;
    } else if (settings.c_cflag & PARENB) {
        line.parity = Parity::Even;
    }
    line.stopBits = (settings.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    return line;
}

// A pseudo-terminal carries bytes, not errors, and its line discipline doubles every 0xFF
// written through the master while PARMRK is set, so a mark cannot be put through as the kernel
// would make it. A character the host asked to have marked is dropped instead, as under IGNPAR:
// the host loses it, but never reads a garbled byte as a clean one. A clean 0xFF goes through
// once and the line discipline doubles it, as the host expects.
InputErrorHandling ptyInputHandling(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return kPortInputHandling;
    }
    const bool mark = (settings.c_iflag & PARMRK) != 0;
    return InputErrorHandling{.check = (settings.c_iflag & INPCK) != 0,
                              .ignore = (settings.c_iflag & IGNPAR) != 0 || mark,
                              .mark = false,
                              .ignoreBreak = (settings.c_iflag & IGNBRK) != 0 || mark};
}

std::unique_ptr<PtyReceiver> PtyReceiver::start(VirtualReceiver& receiver) {
    std::string slavePath;
    FileDescriptor master = openMaster(slavePath);
    std::array<int, 2> stopPipe{};
    if (!master.valid() || ::pipe2(stopPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    std::unique_ptr<PtyReceiver> server(
        new PtyReceiver(receiver, std::move(master), FileDescriptor(stopPipe[0]),
                        FileDescriptor(stopPipe[1]), std::move(slavePath)));
    try {
        server->server_ = std::thread(&PtyReceiver::serve, server.get());
    } catch (const std::system_error&) {
        return nullptr;  // the destructor closes the terminal and the pipe
    }
    return server;
}

PtyReceiver::PtyReceiver(VirtualReceiver& receiver, FileDescriptor master, FileDescriptor stopRead,
                         FileDescriptor stopWrite, std::string slavePath)
    : receiver_(receiver),
      master_(std::move(master)),
      stopRead_(std::move(stopRead)),
      stopWrite_(std::move(stopWrite)),
      slavePath_(std::move(slavePath)) {}

PtyReceiver::~PtyReceiver() {
    stop();
}

std::string PtyReceiver::portName() const {
    const std::string_view path = slavePath_;
    if (path.substr(0, kPtsDirectory.size()) != kPtsDirectory) {
        return {};
    }
    std::string name = std::string(kPtsPortPrefix) + std::string(path.substr(kPtsDirectory.size()));
    // A stored name has at most five characters; /dev/pts/100 and above have no name.
    return name.size() <= kMaxPortName ? name : std::string{};
}

void PtyReceiver::stop() {
    if (!server_.joinable()) {
        return;
    }
    [[maybe_unused]] const ssize_t written = ::write(stopWrite_.get(), &kStopSignal, 1);
    server_.join();
}

void PtyReceiver::serve() {
    bool hostPresent = false;
    while (serveOnce(hostPresent)) {
    }
    if (hostPresent) {
        receiver_.detach(*this);
    }
}

// One wait for the host or the stop signal. The master is watched only while a host is there:
// a hung-up master reports POLLHUP at once, so without a host it is looked at after a timeout.
bool PtyReceiver::serveOnce(bool& hostPresent) {
    std::array<pollfd, 2> fds{
        {{stopRead_.get(), POLLIN, 0}, {hostPresent ? master_.get() : kNoDescriptor, POLLIN, 0}}};
    const int ready =
        ::poll(fds.data(), fds.size(),
               pollMs(receiver_.clock(), hostPresent ? kSettingsRefresh : kHostCheck));
    if (ready < 0 && errno != EINTR) {
        return false;
    }
    if (fds[0].revents != 0) {
        return false;
    }
    const short events = hostPresent ? fds[1].revents : pollNow(master_.get());
    const bool hungUp = (events & (POLLHUP | POLLERR)) != 0 && (events & POLLIN) == 0;
    if (hungUp) {
        if (hostPresent) {
            receiver_.detach(*this);
            hostPresent = false;
        }
        return true;
    }
    if (!hostPresent) {
        hostPresent = receiver_.attach(*this, ptyLineSettings(master_.get()),
                                       ptyInputHandling(master_.get()));
    }
    if (hostPresent) {
        refreshHostSettings();
        if ((events & POLLIN) != 0 && !readHostBytes()) {
            receiver_.detach(*this);
            hostPresent = false;
        }
    }
    return true;
}

bool PtyReceiver::readHostBytes() {
    std::array<std::uint8_t, kReadChunk> buffer{};
    const ssize_t count = ::read(master_.get(), buffer.data(), buffer.size());
    if (count < 0) {
        return errno == EAGAIN || errno == EINTR;  // EIO: the host has gone
    }
    receiver_.hostWrite(
        std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count)));
    return true;
}

void PtyReceiver::refreshHostSettings() {
    receiver_.setHostLineSettings(ptyLineSettings(master_.get()));
    receiver_.setHostInputHandling(ptyInputHandling(master_.get()));
}

// Called by the receiver with its lock held: never blocks. A byte the host's terminal has no
// room for is lost, like an overrun on a real line.
void PtyReceiver::deliver(std::uint8_t byte) {
    [[maybe_unused]] const ssize_t written = ::write(master_.get(), &byte, 1);
}

}  // namespace kestrune
