// The serial port on a POSIX terminal device. The descriptor stays blocking for writes; reads
// wait in poll up to the read ceiling and then collect one byte without blocking.
#include "link/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <limits>
#include <thread>
#include <utility>

#include "link/termios_line.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNoDescriptor = -1;
constexpr long kFailedCall = -1;
constexpr std::chrono::milliseconds kDefaultReadCeiling{1000};
// poll takes its timeout as an int.
constexpr std::chrono::milliseconds kLongestReadCeiling{std::numeric_limits<int>::max()};
constexpr int kModemLines = TIOCM_DTR | TIOCM_RTS;

// Runs a system call again for as long as a signal interrupts it.
template <typename Call>
long retryInterrupted(Call call) {
    long result = 0;
    do {
        result = static_cast<long>(call());
    } while (result == kFailedCall && errno == EINTR);
    return result;
}

enum class CallStatus { Done, NotSupported, Failed };

// The one place errno becomes this module's result. A control the device lacks (modem lines on
// a pseudo-terminal or a USB gadget) answers ENOTTY or EINVAL.
CallStatus statusOf(long result) {
    if (result != kFailedCall) {
        return CallStatus::Done;
    }
    return errno == ENOTTY || errno == EINVAL ? CallStatus::NotSupported : CallStatus::Failed;
}

bool succeeded(long result) {
    return statusOf(result) == CallStatus::Done;
}

// Owns one descriptor; closing is never retried, as the descriptor is gone whatever close says.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept
        : fd_(std::exchange(other.fd_, kNoDescriptor)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ != kNoDescriptor) {
            (void)::close(fd_);
        }
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ != kNoDescriptor; }

  private:
    int fd_;
};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(
        std::clamp(left, std::chrono::milliseconds{0}, kLongestReadCeiling).count());
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(FileDescriptor fd) : fd_(std::move(fd)) {}
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;
    ~PosixSerialPort() override { (void)::ioctl(fd_.get(), TIOCNXCL); }

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult readByte(std::uint8_t& byte) override;
    bool setReadCeiling(std::chrono::milliseconds ceiling) override;
    bool getLineSettings(LineSettings& settings) override;
    bool setLineSettings(const LineSettings& settings) override;
    bool setBreak(bool on) override;

  private:
    FileDescriptor fd_;
    std::atomic<std::chrono::milliseconds> readCeiling_{kDefaultReadCeiling};
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

// A device that has gone (hang-up, error, end of file) keeps reporting so at once; waiting out
// the ceiling before failing keeps a reader that loops on it from spinning.
ReadResult PosixSerialPort::readByte(std::uint8_t& byte) {
    const Clock::time_point deadline = Clock::now() + readCeiling_.load();
    pollfd watch{fd_.get(), POLLIN, 0};
    const long ready =
        retryInterrupted([&] { return ::poll(&watch, 1, millisecondsUntil(deadline)); });
    if (ready == 0) {
        return ReadResult::Nothing;
    }
    if (succeeded(ready) && (watch.revents & POLLIN) != 0) {
        const long got = retryInterrupted([&] { return ::read(fd_.get(), &byte, 1); });
        if (succeeded(got) && got == 1) {
            return ReadResult::Byte;
        }
    }
    std::this_thread::sleep_until(deadline);
    return ReadResult::Failed;
}

bool PosixSerialPort::setReadCeiling(std::chrono::milliseconds ceiling) {
    if (ceiling.count() < 0 || ceiling > kLongestReadCeiling) {
        return false;
    }
    readCeiling_.store(ceiling);
    return true;
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

bool clearNonBlocking(int fd) {
    const long flags = retryInterrupted([&] { return ::fcntl(fd, F_GETFL); });
    return succeeded(flags) && succeeded(retryInterrupted([&] {
               return ::fcntl(fd, F_SETFL, static_cast<int>(flags) & ~O_NONBLOCK);
           }));
}

// Keeps the speed, parity and stop bits the device already has where they are rates the
// program uses; anything else starts at the factory settings.
bool makeRawLine(int fd) {
    termios attributes{};
    if (!succeeded(retryInterrupted([&] { return ::tcgetattr(fd, &attributes); }))) {
        return false;
    }
    LineSettings settings;
    if (!lineSettingsOf(attributes, settings)) {
        settings = LineSettings{};
    }
    return composeLine(attributes, settings) &&
           succeeded(retryInterrupted([&] { return ::tcsetattr(fd, TCSANOW, &attributes); }));
}

bool raiseModemLines(int fd) {
    const long result = retryInterrupted([&] { return ::ioctl(fd, TIOCMBIS, &kModemLines); });
    return statusOf(result) != CallStatus::Failed;
}

}  // namespace

// Opened without blocking, so a device waiting for carrier cannot hold the open; blocking again
// once it is ours. flock keeps out every other opener, root included; TIOCEXCL also keeps out
// programs that do not take the lock.
std::unique_ptr<SerialPort> openSerialDevice(const std::string& path) {
    FileDescriptor fd(static_cast<int>(retryInterrupted(
        [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); })));
    if (!fd.valid() || ::isatty(fd.get()) == 0) {
        return nullptr;
    }
    if (!succeeded(retryInterrupted([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); })) ||
        !clearNonBlocking(fd.get()) || !makeRawLine(fd.get()) || !raiseModemLines(fd.get()) ||
        !succeeded(retryInterrupted([&] { return ::ioctl(fd.get(), TIOCEXCL); }))) {
        return nullptr;
    }
    return std::make_unique<PosixSerialPort>(std::move(fd));
}

std::unique_ptr<SerialPort> openSerialPort(std::string_view portName) {
    const std::string path = portDevicePath(portName);
    if (path.empty()) {
        return nullptr;
    }
    return openSerialDevice(path);
}

}  // namespace kestrune
