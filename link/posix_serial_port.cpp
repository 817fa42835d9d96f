// The serial port on a POSIX terminal device. The descriptor stays blocking for writes; reads
// wait in poll up to the read ceiling and then collect everything already there in one call,
// handing it out a byte at a time. The line drops characters with a parity or framing error
// (see termios_line.cpp), so every byte handed out arrived whole.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "link/file_descriptor.h"
#include "link/port_names.h"
#include "link/serial_device.h"
#include "link/serial_opener.h"
#include "link/termios_line.h"
#include "link/timing.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kDefaultReadCeiling{1000};
// poll takes its timeout as an int.
constexpr std::chrono::milliseconds kLongestReadCeiling{std::numeric_limits<int>::max()};
constexpr int kModemLines = TIOCM_DTR | TIOCM_RTS;
// Bytes collected by one read at most: over a second at the fastest line rate.
constexpr std::size_t kReadChunk = 4096;
// A read that brings more than any reply the program waits for (a port report is 14 bytes)
// means the receiver is streaming; letting the rest gather for a while (the link's gather pause)
// before reading again then saves a wake-up per few bytes. A lone reply is handed on at once. A
// read that fills half the buffer, far more than the fastest line rate sends in a pause (307
// bytes), means input comes faster than a line rate (a USB receiver has none), so the next read
// follows at once: the reader never falls behind.
constexpr std::size_t kStreamingRead = 32;
constexpr std::size_t kFloodRead = kReadChunk / 2;
constexpr std::uint64_t kWakeCount = 1;
constexpr nfds_t kWatched = 2;

enum class CallStatus { Done, NotSupported, Failed };

// A control the device lacks (modem lines on a pseudo-terminal or a USB gadget) answers ENOTTY
// or EINVAL; an emulated terminal may fail one without saying why (errno 0).
CallStatus statusOf(long result) {
    if (result != kFailedCall) {
        return CallStatus::Done;
    }
    return errno == ENOTTY || errno == EINVAL || errno == 0 ? CallStatus::NotSupported
                                                            : CallStatus::Failed;
}

bool supportedOrDone(long result) {
    return statusOf(result) != CallStatus::Failed;
}

bool succeeded(long result) {
    return statusOf(result) == CallStatus::Done;
}

// The one place errno becomes the reason an open failed.
OpenError openErrorOf(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
            return OpenError::NoSuchDevice;
        case EACCES:
        case EPERM:
            return OpenError::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenError::Busy;
        case ENOTTY:
            return OpenError::NotATerminal;
        default:
            return OpenError::Failed;
    }
}

OpenResult failure(OpenError error) {
    return OpenResult{nullptr, error};
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(
        std::clamp(left, std::chrono::milliseconds{0}, kLongestReadCeiling).count());
}

class PosixSerialPort final : public SerialPort {
  public:
    PosixSerialPort(FileDescriptor fd, FileDescriptor wake, const termios& original)
        : fd_(std::move(fd)), wake_(std::move(wake)), original_(original) {}
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;
    // The terminal gets back the settings it had before the program took it.
    ~PosixSerialPort() override {
        (void)retryInterrupted([&] { return ::tcsetattr(fd_.get(), TCSANOW, &original_); });
        (void)::ioctl(fd_.get(), TIOCNXCL);
    }

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult readByte(std::uint8_t& byte) override;
    std::uint64_t inputMark() override;
    bool setReadCeiling(std::chrono::milliseconds ceiling) override;
    void setGatherPause(std::chrono::milliseconds pause) override;
    bool getLineSettings(LineSettings& settings) override;
    bool setLineSettings(const LineSettings& settings) override;
    bool setBreak(bool on) override;
    void stopReading() override;

  private:
    ReadResult fill();
    // Waits on the wake-up alone; true once reading has been stopped.
    bool stoppedWithin(std::chrono::milliseconds wait);

    FileDescriptor fd_;
    // An eventfd that poll watches beside the device; once written it stays readable.
    FileDescriptor wake_;
    const termios original_;
    std::atomic<std::chrono::milliseconds> readCeiling_{kDefaultReadCeiling};
    std::atomic<std::chrono::milliseconds> gatherPause_{Timing{}.gatherPause};
    // Received but not yet handed out; the reader's alone.
    std::array<std::uint8_t, kReadChunk> received_{};
    std::size_t next_ = 0;
    std::size_t held_ = 0;
    bool gathering_ = false;
    // Taking bytes from the device and counting what is received are one step under this lock.
    std::mutex takenMutex_;
    std::uint64_t taken_ = 0;
};

bool PosixSerialPort::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const long written =
            retryInterrupted([&] { return ::write(fd_.get(), bytes.data(), bytes.size()); });
        if (!succeeded(written) || written == 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

ReadResult PosixSerialPort::readByte(std::uint8_t& byte) {
    if (next_ == held_) {
        const ReadResult filled = fill();
        if (filled != ReadResult::Byte) {
            return filled;
        }
    }
    byte = received_[next_++];
    return ReadResult::Byte;
}

// A device that has gone (hang-up, error, end of file) keeps reporting so at once; waiting out
// the ceiling before failing keeps a reader that loops on it from spinning.
ReadResult PosixSerialPort::fill() {
    const Clock::time_point deadline = Clock::now() + readCeiling_.load();
    if (std::exchange(gathering_, false) && stoppedWithin(gatherPause_.load())) {
        return ReadResult::Nothing;
    }
    std::array<pollfd, kWatched> watch{{{fd_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}}};
    const long ready = retryInterrupted(
        [&] { return ::poll(watch.data(), watch.size(), millisecondsUntil(deadline)); });
    if (ready == 0 || (succeeded(ready) && (watch[1].revents & POLLIN) != 0)) {
        return ReadResult::Nothing;
    }
    if (succeeded(ready) && (watch[0].revents & POLLIN) != 0) {
        const std::lock_guard lock(takenMutex_);
        const long got =
            retryInterrupted([&] { return ::read(fd_.get(), received_.data(), received_.size()); });
        if (succeeded(got) && got > 0) {
            next_ = 0;
            held_ = static_cast<std::size_t>(got);
            taken_ += held_;
            gathering_ = held_ >= kStreamingRead && held_ < kFloodRead;
            return ReadResult::Byte;
        }
    }
    (void)stoppedWithin(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    return ReadResult::Failed;
}

// Everything taken from the device so far, plus what the device holds: the read count of every
// byte received up to now lies below it.
std::uint64_t PosixSerialPort::inputMark() {
    const std::lock_guard lock(takenMutex_);
    int waiting = 0;
    if (!succeeded(retryInterrupted([&] { return ::ioctl(fd_.get(), FIONREAD, &waiting); }))) {
        waiting = 0;
    }
    return taken_ + static_cast<std::uint64_t>(std::max(waiting, 0));
}

bool PosixSerialPort::stoppedWithin(std::chrono::milliseconds wait) {
    pollfd stop{wake_.get(), POLLIN, 0};
    const int timeout = static_cast<int>(
        std::clamp(wait, std::chrono::milliseconds{0}, kLongestReadCeiling).count());
    return retryInterrupted([&] { return ::poll(&stop, 1, timeout); }) > 0;
}

bool PosixSerialPort::setReadCeiling(std::chrono::milliseconds ceiling) {
    if (ceiling.count() < 0 || ceiling > kLongestReadCeiling) {
        return false;
    }
    readCeiling_.store(ceiling);
    return true;
}

void PosixSerialPort::setGatherPause(std::chrono::milliseconds pause) {
    gatherPause_.store(std::clamp(pause, std::chrono::milliseconds{0}, kLongestReadCeiling));
}

bool PosixSerialPort::getLineSettings(LineSettings& settings) {
    termios attributes{};
    return succeeded(retryInterrupted([&] { return ::tcgetattr(fd_.get(), &attributes); })) &&
           lineSettingsOf(attributes, settings);
}

// TCSANOW without a flush: bytes already received stay readable at the new settings.
bool PosixSerialPort::setLineSettings(const LineSettings& settings) {
    termios attributes{};
    return succeeded(retryInterrupted([&] { return ::tcgetattr(fd_.get(), &attributes); })) &&
           composeLine(attributes, settings) && succeeded(retryInterrupted([&] {
               return ::tcsetattr(fd_.get(), TCSANOW, &attributes);
           }));
}

bool PosixSerialPort::setBreak(bool on) {
    const unsigned long request = on ? TIOCSBRK : TIOCCBRK;
    return succeeded(retryInterrupted([&] { return ::ioctl(fd_.get(), request); }));
}

void PosixSerialPort::stopReading() {
    (void)retryInterrupted([&] { return ::write(wake_.get(), &kWakeCount, sizeof kWakeCount); });
}

bool clearNonBlocking(int fd) {
    const long flags = retryInterrupted([&] { return ::fcntl(fd, F_GETFL); });
    return succeeded(flags) && succeeded(retryInterrupted([&] {
               return ::fcntl(fd, F_SETFL, static_cast<int>(flags) & ~O_NONBLOCK);
           }));
}

// Keeps the speed, parity and stop bits the device already has where they are rates the
// program uses; anything else starts at the factory settings.
bool makeRawLine(int fd, const termios& original) {
    termios attributes = original;
    LineSettings settings;
    if (!lineSettingsOf(attributes, settings)) {
        settings = kFactoryLine;
    }
    return composeLine(attributes, settings) &&
           succeeded(retryInterrupted([&] { return ::tcsetattr(fd, TCSANOW, &attributes); }));
}

// The path could have been made to lead elsewhere between the check and the open. The node
// opened must be the node checked: the same file on the same file system, which is the same
// device number too. Device test beds fake the number a path's stat gives but not the node,
// so the node is what is compared.
bool sameNode(int fd, const struct stat& checked) {
    struct stat opened {};
    return ::fstat(fd, &opened) == 0 && S_ISCHR(opened.st_mode) &&
           opened.st_dev == checked.st_dev && opened.st_ino == checked.st_ino;
}

bool raiseModemLines(int fd) {
    return supportedOrDone(retryInterrupted([&] {
        errno = 0;
        return ::ioctl(fd, TIOCMBIS, &kModemLines);
    }));
}

}  // namespace

// Only a serial port or a pseudo-terminal is opened at all: opening other devices can have
// effects of their own (a watchdog arms, /dev/ptmx makes a terminal, /dev/tty is the user's),
// and the user's own terminal, whatever its kind, would receive the probes.
// Opened without blocking, so a device waiting for carrier cannot hold the open; blocking again
// once it is ours. flock keeps out every other opener, root included; TIOCEXCL also keeps out
// programs that do not take the lock.
OpenResult openSerialDevice(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return failure(openErrorOf(errno));
    }
    if (!S_ISCHR(status.st_mode)) {
        return failure(OpenError::NotATerminal);
    }
    const DeviceKind kind = deviceKindOf(status.st_rdev);
    if (kind == DeviceKind::OwnTerminal) {
        return failure(OpenError::OwnTerminal);
    }
    if (!usableKind(kind)) {
        return failure(OpenError::NotSerialPort);
    }
    FileDescriptor fd(static_cast<int>(retryInterrupted(
        [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); })));
    if (!fd.valid()) {
        return failure(openErrorOf(errno));
    }
    if (!sameNode(fd.get(), status)) {
        return failure(OpenError::Failed);
    }
    termios original{};
    if (::tcgetattr(fd.get(), &original) != 0) {
        return failure(OpenError::NotATerminal);
    }
    if (!succeeded(retryInterrupted([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }))) {
        return failure(openErrorOf(errno));
    }
    FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid() || !clearNonBlocking(fd.get()) || !makeRawLine(fd.get(), original) ||
        !raiseModemLines(fd.get()) || !supportedOrDone(retryInterrupted([&] {
            errno = 0;
            return ::ioctl(fd.get(), TIOCEXCL);
        }))) {
        const OpenError error = openErrorOf(errno);
        (void)::tcsetattr(fd.get(), TCSANOW, &original);
        return failure(error);
    }
    return OpenResult{std::make_unique<PosixSerialPort>(std::move(fd), std::move(wake), original),
                      OpenError::None};
}

OpenResult openSerialPort(std::string_view portName) {
    const std::string path = portDevicePath(portName);
    if (path.empty()) {
        return failure(OpenError::NoSuchDevice);
    }
    return openSerialDevice(path);
}

}  // namespace kestrune
