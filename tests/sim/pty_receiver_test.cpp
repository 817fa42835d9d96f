#include "sim/pty_receiver.h"

#include <gtest/gtest.h>

#include "link/serial_opener.h"
#include "sim/virtual_receiver.h"
#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

struct PtyCase {
    const char* name;
    LineSettings receiver;
    std::uint8_t baudCode;
};

TEST(PtyReceiverTest, HostAtTheReceiversSettingsGetsAReply) {
    const PtyCase cases[] = {
        {"9600 no parity", kFactoryLine, 0x07},
        {"38400 odd", {38400, Parity::Odd, StopBits::One}, 0x09},
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

        // The host is the program's own serial port, as in use.
        std::unique_ptr<SerialPort> host = openSerialDevice(server->slavePath()).port;
        ASSERT_NE(host, nullptr);
        ASSERT_TRUE(host->setReadCeiling(kShortCeiling));
        ASSERT_TRUE(host->setLineSettings(c.receiver));
        ASSERT_TRUE(host->write(kPortQuery));
        const std::vector<Frame> frames = framesUntil(*host, 0xBC);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].data.at(1), c.baudCode);
        host.reset();
        server->stop();
        EXPECT_FALSE(receiver.hostAttached());
    }
}

}  // namespace
}  // namespace kestrune::test
