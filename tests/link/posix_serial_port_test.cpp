#include "link/posix_serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/pseudo_terminal.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing_support::PseudoTerminal;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kShortCeiling = 10ms;
constexpr auto kGenerousWait = 5000ms;
constexpr std::uint32_t kUnknownParity = 3;

// Bytes a line discipline would otherwise act on: framing, CR, LF, XON, XOFF, interrupt, EOF.
const Bytes kAwkwardBytes{0x10, 0x8F, 0x00, 0x10, 0x03, 0x0D, 0x0A, 0x11,
                          0x13, 0x03, 0x04, 0x1A, 0x7F, 0xFF, 0x0D};

struct PortFixture : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(pty.ready()) << "no pseudo-terminal could be opened";
        port = openSerialDevice(pty.slavePath());
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(port->setReadCeiling(kGenerousWait));
    }

    Bytes readFromPort(std::size_t count) {
        Bytes bytes;
        std::uint8_t byte = 0;
        while (bytes.size() < count && port->readByte(byte) == ReadResult::Byte) {
            bytes.push_back(byte);
        }
        return bytes;
    }

    PseudoTerminal pty;
    std::unique_ptr<SerialPort> port;
};

TEST(PosixSerialPort, OpensAPseudoTerminalByItsPortName) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ready());
    if (pty.portName().empty()) {
        GTEST_SKIP() << pty.slavePath() << " has too many digits for a five-character port name";
    }
    EXPECT_NE(openSerialPort(pty.portName()), nullptr) << pty.portName();
}

TEST(PosixSerialPort, RefusesWhatIsNotATerminal) {
    for (const char* path : {"/dev/null", "/", "", "/nonexistent/ttyS0"}) {
        EXPECT_EQ(openSerialDevice(path), nullptr) << path;
    }
    EXPECT_EQ(openSerialPort("SIM1"), nullptr);
    EXPECT_EQ(openSerialPort("../x"), nullptr);
}

TEST_F(PortFixture, ASecondOpenFailsWhileThePortIsInUse) {
    EXPECT_EQ(openSerialDevice(pty.slavePath()), nullptr);
    port.reset();
    EXPECT_NE(openSerialDevice(pty.slavePath()), nullptr);
}

TEST_F(PortFixture, OpensARawLine) {
    const termios line = pty.attributes();
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t{CS8});
}

struct SettingsCase {
    const char* name;
    LineSettings settings;
    speed_t speed;
    bool oddParity;
    bool twoStopBits;
};

// The kernel clears PARENB on a pseudo-terminal, so even parity looks like none from either side.
const SettingsCase kSettingsCases[] = {
    {"1200 none one", {1200, kParityNone, kOneStopBit}, B1200, false, false},
    {"2400 odd one", {2400, kParityOdd, kOneStopBit}, B2400, true, false},
    {"4800 even two", {4800, kParityEven, kTwoStopBits}, B4800, false, true},
    {"9600 none two", {9600, kParityNone, kTwoStopBits}, B9600, false, true},
    {"19200 odd two", {19200, kParityOdd, kTwoStopBits}, B19200, true, true},
    {"38400 none one", {38400, kParityNone, kOneStopBit}, B38400, false, false},
};

TEST_F(PortFixture, LineSettingsAreSeenFromTheOtherSide) {
    for (const SettingsCase& row : kSettingsCases) {
        ASSERT_TRUE(port->setLineSettings(row.settings)) << row.name;
        const termios line = pty.attributes();
        EXPECT_EQ(cfgetospeed(&line), row.speed) << row.name;
        EXPECT_EQ((line.c_cflag & PARODD) != 0, row.oddParity) << row.name;
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, row.twoStopBits) << row.name;
    }
}

TEST_F(PortFixture, LineSettingsReadBack) {
    for (const SettingsCase& row : kSettingsCases) {
        ASSERT_TRUE(port->setLineSettings(row.settings)) << row.name;
        LineSettings read{0, kParityNone, kOneStopBit};
        ASSERT_TRUE(port->getLineSettings(read)) << row.name;
        EXPECT_EQ(read.baud, row.settings.baud) << row.name;
        EXPECT_EQ(read.stopBits, row.settings.stopBits) << row.name;
    }
}

TEST_F(PortFixture, RefusesRatesAndParitiesItDoesNotUse) {
    ASSERT_TRUE(port->setLineSettings({4800, kParityNone, kOneStopBit}));
    for (const std::uint32_t baud : {0u, 300u, 600u, 9601u, 57600u, 115200u}) {
        EXPECT_FALSE(port->setLineSettings({baud, kParityNone, kOneStopBit})) << baud;
    }
    EXPECT_FALSE(port->setLineSettings({9600, kUnknownParity, kOneStopBit}));
    const termios line = pty.attributes();
    EXPECT_EQ(cfgetospeed(&line), speed_t{B4800});
}

TEST_F(PortFixture, ReadsBytesUnaltered) {
    ASSERT_TRUE(pty.write(kAwkwardBytes));
    EXPECT_EQ(readFromPort(kAwkwardBytes.size()), kAwkwardBytes);
}

TEST_F(PortFixture, WritesBytesUnaltered) {
    ASSERT_TRUE(port->write(kAwkwardBytes));
    EXPECT_EQ(pty.read(kAwkwardBytes.size(), kGenerousWait), kAwkwardBytes);
}

// The first byte is read before the changes so the rest is known to be waiting in the port.
TEST_F(PortFixture, ChangingSettingsKeepsWhatWasReceived) {
    ASSERT_TRUE(pty.write(kAwkwardBytes));
    const Bytes first = readFromPort(1);
    for (const SettingsCase& row : kSettingsCases) {
        ASSERT_TRUE(port->setLineSettings(row.settings)) << row.name;
    }
    Bytes all = first;
    const Bytes rest = readFromPort(kAwkwardBytes.size() - 1);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, kAwkwardBytes);
}

TEST_F(PortFixture, ReadFindsNothingWhenTheCeilingPasses) {
    ASSERT_TRUE(port->setReadCeiling(kShortCeiling));
    std::uint8_t byte = 0;
    EXPECT_EQ(port->readByte(byte), ReadResult::Nothing);
}

TEST_F(PortFixture, RefusesNegativeReadCeilings) {
    EXPECT_FALSE(port->setReadCeiling(-1ms));
    EXPECT_TRUE(port->setReadCeiling(0ms));
}

TEST_F(PortFixture, ReadAndWriteFailOnceTheOtherSideHasClosed) {
    ASSERT_TRUE(port->setReadCeiling(kShortCeiling));
    pty.closeMaster();
    std::uint8_t byte = 0;
    EXPECT_EQ(port->readByte(byte), ReadResult::Failed);
    EXPECT_EQ(port->readByte(byte), ReadResult::Failed);
    EXPECT_FALSE(port->write(kAwkwardBytes));
}

// A hung-up terminal (an unplugged adapter) reads as end of file.
TEST_F(PortFixture, ReadFailsOnceTheLineHangsUp) {
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other < 0 || ::ioctl(other, TIOCVHANGUP) != 0) {
        const int error = errno;
        if (other >= 0) {
            ::close(other);
        }
        GTEST_SKIP() << "hanging up a terminal needs privileges: " << std::strerror(error);
    }
    ::close(other);
    ASSERT_TRUE(port->setReadCeiling(kShortCeiling));
    std::uint8_t byte = 0;
    EXPECT_EQ(port->readByte(byte), ReadResult::Failed);
}

TEST_F(PortFixture, BreakStartsAndEndsWithoutError) {
    EXPECT_TRUE(port->setBreak(true));
    EXPECT_TRUE(port->setBreak(false));
}

// One thread reads while another writes and changes the line settings.
TEST_F(PortFixture, ReadsWhileAnotherThreadWritesAndReconfigures) {
    constexpr std::size_t kRounds = 50;
    Bytes received;
    std::thread reader([&] { received = readFromPort(kRounds * kAwkwardBytes.size()); });
    Bytes sent;
    for (std::size_t round = 0; round < kRounds; ++round) {
        const SettingsCase& row = kSettingsCases[round % std::size(kSettingsCases)];
        EXPECT_TRUE(port->setLineSettings(row.settings));
        EXPECT_TRUE(port->write(kAwkwardBytes));
        EXPECT_EQ(pty.read(kAwkwardBytes.size(), kGenerousWait), kAwkwardBytes);
        EXPECT_TRUE(pty.write(kAwkwardBytes));
        sent.insert(sent.end(), kAwkwardBytes.begin(), kAwkwardBytes.end());
    }
    reader.join();
    EXPECT_EQ(received, sent);
}

}  // namespace
}  // namespace kestrune
