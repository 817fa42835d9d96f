// A pseudo-terminal pair for exercising the POSIX serial port: the test holds the master side and
// the port under test opens the slave, by path or by its PTSn name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrune::test {

class PseudoTerminal {
  public:
    PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        std::array<char, kPathCapacity> path{};
        if (master_ != kClosed && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, path.data(), path.size()) == 0) {
            slavePath_ = path.data();
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() { closeMaster(); }

    bool ready() const { return master_ != kClosed && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // "PTSn" for /dev/pts/n; empty when n is too long for a stored port name.
    std::string portName() const {
        const std::string number = slavePath_.substr(std::string_view(kFolder).size());
        return number.size() <= kLongestNumber ? "PTS" + number : std::string{};
    }

    // The slave side then reports a hang-up for good.
    void closeMaster() {
        if (master_ != kClosed) {
            ::close(master_);
            master_ = kClosed;
        }
    }

    bool write(std::span<const std::uint8_t> bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // What the slave side wrote, up to count bytes, waiting at most timeout in all.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        while (got < count && std::chrono::steady_clock::now() < deadline) {
            pollfd watch{master_, POLLIN, 0};
            if (::poll(&watch, 1, kPollSlice) > 0 && (watch.revents & POLLIN) != 0) {
                const ssize_t n = ::read(master_, bytes.data() + got, count - got);
                got += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
        }
        bytes.resize(got);
        return bytes;
    }

    // The slave's line as the master side sees it.
    termios attributes() const {
        termios attributes{};
        ::tcgetattr(master_, &attributes);
        return attributes;
    }

  private:
    static constexpr int kClosed = -1;
    static constexpr std::size_t kPathCapacity = 64;
    static constexpr const char* kFolder = "/dev/pts/";
    // "PTS" and two digits fill a five-character port name.
    static constexpr std::size_t kLongestNumber = 2;
    static constexpr int kPollSlice = 50;

    int master_;
    std::string slavePath_;
};

}  // namespace kestrune::test
