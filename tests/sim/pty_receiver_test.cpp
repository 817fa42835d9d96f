#include "sim/pty_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/virtual_receiver.h"
#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};

// The host side: the slave opened raw at a speed and parity, as a serial program would.
class SlaveHost {
  public:
    SlaveHost(const std::string& path, speed_t speed, tcflag_t parity)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios settings{};
        if (fd_ < 0 || ::tcgetattr(fd_, &settings) != 0) {
            return;
        }
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD | parity;
        configured_ =
            ::cfsetspeed(&settings, speed) == 0 && ::tcsetattr(fd_, TCSANOW, &settings) == 0;
    }
    ~SlaveHost() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool configured() const { return configured_; }
    bool write(const Bytes& bytes) {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Frames until one with id arrives, or nothing after the generous wait.
    std::optional<Frame> waitForFrame(std::uint8_t id) {
        FrameDecoder decoder;
        const auto deadline = std::chrono::steady_clock::now() + kGenerous;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            std::uint8_t byte = 0;
            if (::poll(&entry, 1, static_cast<int>(kShortCeiling.count())) <= 0 ||
                ::read(fd_, &byte, 1) != 1) {
                continue;
            }
            if (const auto frame = decoder.feed(byte); frame && frame->id == id) {
                return frame;
            }
        }
        return std::nullopt;
    }

  private:
    int fd_;
    bool configured_ = false;
};

struct PtyCase {
    const char* name;
    LineSettings receiver;
    speed_t hostSpeed;
    tcflag_t hostParity;
    std::uint8_t baudCode;
};

TEST(PtyReceiverTest, HostAtTheReceiversSettingsGetsAReply) {
    const PtyCase cases[] = {
        {"9600 no parity", {9600, kParityNone, kOneStopBit}, B9600, 0, 0x07},
        {"38400 odd", {38400, kParityOdd, kOneStopBit}, B38400, PARENB | PARODD, 0x09},
    };
    for (const PtyCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiverSettings settings;
        settings.line = c.receiver;
        VirtualReceiver receiver(settings, {}, kFactor);
        const auto server = PtyReceiver::start(receiver);
        ASSERT_NE(server, nullptr);

        SlaveHost host(server->slavePath(), c.hostSpeed, c.hostParity);
        ASSERT_TRUE(host.configured());
        ASSERT_TRUE(host.write(kPortQuery));
        const auto report = host.waitForFrame(0xBC);
        ASSERT_TRUE(report.has_value());
        EXPECT_EQ(report->data.at(1), c.baudCode);
        server->stop();
        EXPECT_FALSE(receiver.hostAttached());
    }
}

TEST(PtyReceiverTest, PortNameFollowsTheSlaveNumber) {
    VirtualReceiver receiver({}, {}, kFactor);
    const auto server = PtyReceiver::start(receiver);
    ASSERT_NE(server, nullptr);
    const std::string prefix = "/dev/pts/";
    ASSERT_TRUE(server->slavePath().starts_with(prefix));
    EXPECT_EQ(server->portName(), "PTS" + server->slavePath().substr(prefix.size()));
}

}  // namespace
}  // namespace kestrune::test
