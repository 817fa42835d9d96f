// A pseudo-terminal pair for exercising the POSIX serial port: the test holds the master side and
// the port under test opens the slave, by path or by its PTSn name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>

#include <array>
#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "link/file_descriptor.h"

namespace kestrune::test {

class PseudoTerminal {
  public:
    PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        std::array<char, 64> path{};
        if (master_.valid() && ::grantpt(master()) == 0 && ::unlockpt(master()) == 0 &&
            ::ptsname_r(master(), path.data(), path.size()) == 0) {
            slavePath_ = path.data();
        }
    }

    bool ready() const { return !slavePath_.empty(); }
    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }
    // "PTSn" for /dev/pts/n; empty when n is too long for a five-character port name.
    std::string portName() const {
        const std::string number = slavePath_.substr(std::string_view("/dev/pts/").size());
        return number.size() <= 2 ? "PTS" + number : std::string{};
    }
    // The slave side then reports a hang-up for good.
    void closeMaster() { master_ = FileDescriptor{}; }
    bool write(std::span<const std::uint8_t> bytes) const {
        return ::write(master(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the slave side wrote, up to count bytes, waiting at most timeout in all.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        pollfd watch{master(), POLLIN, 0};
        while (got < count && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&watch, 1, 50) > 0 && (watch.revents & POLLIN) != 0) {
                got += std::max<ssize_t>(0, ::read(master(), bytes.data() + got, count - got));
            }
        }
        bytes.resize(got);
        return bytes;
    }
    // The slave's line as the master side sees it.
    termios attributes() const {
        termios attributes{};
        ::tcgetattr(master(), &attributes);
        return attributes;
    }

  private:
    FileDescriptor master_;
    std::string slavePath_;
};

}  // namespace kestrune::test
