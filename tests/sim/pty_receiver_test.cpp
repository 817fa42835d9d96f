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
    // One byte within the short ceiling.
    bool readByte(std::uint8_t& byte) {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(kShortCeiling.count())) > 0 &&
               ::read(fd_, &byte, 1) == 1;
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
        const std::string folder = "/dev/pts/";
        ASSERT_TRUE(server->slavePath().starts_with(folder));
        EXPECT_EQ(server->portName(), "PTS" + server->slavePath().substr(folder.size()));

        SlaveHost host(server->slavePath(), c.hostSpeed, c.hostParity);
        ASSERT_TRUE(host.configured());
        ASSERT_TRUE(host.write(kPortQuery));
        const std::vector<Frame> frames =
            framesUntil([&host](std::uint8_t& byte) { return host.readByte(byte); }, 0xBC);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].data.at(1), c.baudCode);
        server->stop();
        EXPECT_FALSE(receiver.hostAttached());
    }
}

}  // namespace
}  // namespace kestrune::test
