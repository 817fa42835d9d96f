#include "link/serial_opener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/pseudo_terminal.h"

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kShortCeiling = 10ms;
constexpr auto kGenerousWait = 5000ms;

// Bytes a line discipline would otherwise act on: framing, CR, LF, XON, XOFF, interrupt, EOF.
const Bytes kAwkwardBytes{0x10, 0x8F, 0x00, 0x10, 0x03, 0x0D, 0x0A, 0x11,
                          0x13, 0x03, 0x04, 0x1A, 0x7F, 0xFF, 0x0D};

struct PortFixture : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(pty.ready()) << "no pseudo-terminal could be opened";
        port = openSerialDevice(pty.slavePath()).port;
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

TEST(PosixSerialPort, SaysWhyAnOpenFailed) {
    const std::pair<const char*, OpenError> cases[] = {
        {"/nonexistent/ttyS0", OpenError::NoSuchDevice},
        {"", OpenError::NoSuchDevice},
        {"/", OpenError::NotATerminal},
        {"/proc/self/status", OpenError::NotATerminal},
        // Character devices other than serial ports are refused from their number, unopened.
        {"/dev/null", OpenError::NotSerialPort},
        {"/dev/tty", OpenError::NotSerialPort},
        {"/dev/ptmx", OpenError::NotSerialPort},
    };
    for (const auto& [path, error] : cases) {
        const OpenResult result = openSerialDevice(path);
        EXPECT_EQ(result.port, nullptr) << path;
        EXPECT_EQ(result.error, error) << path;
    }
    EXPECT_EQ(openSerialPort("SIM1").error, OpenError::NoSuchDevice);
    EXPECT_EQ(openSerialPort("../x").error, OpenError::NoSuchDevice);
    EXPECT_EQ(openSerialPort("/dev/../etc/passwd").error, OpenError::NoSuchDevice);
}

// The user's own terminal is no receiver, by whatever name it is reached (/dev/stdin, its
// /dev/pts path); another pseudo-terminal is.
TEST(PosixSerialPort, RefusesTheTerminalItRunsFrom) {
    PseudoTerminal own;
    const int saved = ::dup(STDIN_FILENO);
    const int terminal = ::open(own.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(saved >= 0 && terminal >= 0);
    ASSERT_EQ(::dup2(terminal, STDIN_FILENO), STDIN_FILENO);
    const OpenError ownError = openSerialDevice(own.slavePath()).error;
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    ::close(terminal);
    EXPECT_EQ(ownError, OpenError::OwnTerminal);
    EXPECT_NE(openSerialDevice(own.slavePath()).port, nullptr);
}

// A FIFO's reader sees a hang-up once any writer has come and gone: a refused FIFO must never
// have been opened at all.
TEST(PosixSerialPort, RefusesAnythingButACharacterDeviceBeforeOpeningIt) {
    char folder[] = "/tmp/kestrune-fifo-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/port";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(openSerialDevice(fifo).error, OpenError::NotATerminal);
    pollfd watch{reader, POLLIN, 0};
    EXPECT_EQ(::poll(&watch, 1, 0), 0);
    ::close(reader);
    ::unlink(fifo.c_str());
    ::rmdir(folder);
}

// Opened by its PTSn name when it has one.
TEST_F(PortFixture, ASecondOpenIsRefusedAsBusyWhileThePortIsInUse) {
    EXPECT_EQ(openSerialDevice(pty.slavePath()).error, OpenError::Busy);
    port.reset();
    EXPECT_NE((pty.portName().empty() ? openSerialDevice(pty.slavePath())
                                      : openSerialPort(pty.portName()))
                  .port,
              nullptr);
}

TEST_F(PortFixture, OpensARawLineAndClosingPutsBackWhatItFound) {
    termios line = pty.attributes();
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    // Characters with errors, and breaks, are dropped, never marked.
    EXPECT_EQ(line.c_iflag & (INPCK | IGNPAR | IGNBRK | PARMRK | ISTRIP),
              tcflag_t{INPCK | IGNPAR | IGNBRK});
    EXPECT_EQ(line.c_cflag & (CRTSCTS | CSIZE), tcflag_t{CS8});

    port.reset();
    PseudoTerminal cooked;
    ASSERT_TRUE(cooked.ready());
    const termios before = cooked.attributes();
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    auto opened = openSerialDevice(cooked.slavePath()).port;
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(opened->setLineSettings({38400, Parity::Odd, StopBits::Two}));
    opened.reset();
    line = cooked.attributes();
    EXPECT_EQ(line.c_lflag, before.c_lflag);
    EXPECT_EQ(line.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&line), cfgetospeed(&before));
}

const std::pair<LineSettings, speed_t> kSettingsCases[] = {
    {{1200, Parity::None, StopBits::One}, B1200},  {{2400, Parity::Odd, StopBits::One}, B2400},
    {{4800, Parity::Even, StopBits::Two}, B4800},  {{9600, Parity::None, StopBits::Two}, B9600},
    {{19200, Parity::Odd, StopBits::Two}, B19200}, {{38400, Parity::None, StopBits::One}, B38400},
};

// The kernel clears PARENB on a pseudo-terminal, so even parity looks like none from either side.
// A rate the receiver does not offer is refused and leaves the line as it was.
TEST_F(PortFixture, LineSettingsAreSeenFromTheOtherSideAndReadBack) {
    for (const auto& [settings, speed] : kSettingsCases) {
        ASSERT_TRUE(port->setLineSettings(settings)) << settings.baud;
        for (const std::uint32_t baud : {0u, 300u, 9601u, 57600u, 115200u}) {
            EXPECT_FALSE(port->setLineSettings({baud, Parity::None, StopBits::One})) << baud;
        }
        const termios line = pty.attributes();
        EXPECT_EQ(cfgetospeed(&line), speed) << settings.baud;
        EXPECT_EQ((line.c_cflag & PARODD) != 0, settings.parity == Parity::Odd) << settings.baud;
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, settings.stopBits == StopBits::Two);
        LineSettings read{0, Parity::None, StopBits::One};
        ASSERT_TRUE(port->getLineSettings(read));
        EXPECT_EQ(read.baud, settings.baud);
        EXPECT_EQ(read.stopBits, settings.stopBits);
    }
}

// The first byte is read before the changes so the rest is known to be waiting in the port.
TEST_F(PortFixture, BytesPassUnalteredAndChangingSettingsKeepsWhatWasReceived) {
    ASSERT_TRUE(port->write(kAwkwardBytes));
    EXPECT_EQ(pty.read(kAwkwardBytes.size(), kGenerousWait), kAwkwardBytes);
    ASSERT_TRUE(pty.write(kAwkwardBytes));
    const Bytes first = readFromPort(1);
    for (const auto& [settings, speed] : kSettingsCases) {
        ASSERT_TRUE(port->setLineSettings(settings));
    }
    Bytes all = first;
    const Bytes rest = readFromPort(kAwkwardBytes.size() - 1);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, kAwkwardBytes);
}

// A dead device answers at once; the read must still take its ceiling, or a reader spins.
TEST_F(PortFixture, ReadsTakeTheCeilingWhetherNothingCameOrTheOtherSideHasClosed) {
    constexpr auto kCeiling = 200ms;
    EXPECT_FALSE(port->setReadCeiling(-1ms));
    ASSERT_TRUE(port->setReadCeiling(kCeiling));
    std::uint8_t byte = 0;
    EXPECT_EQ(port->readByte(byte), ReadResult::Nothing);
    pty.closeMaster();
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port->readByte(byte), ReadResult::Failed);
        EXPECT_GE(std::chrono::steady_clock::now() - start, kCeiling);
    }
    EXPECT_FALSE(port->write(kAwkwardBytes));
}

TEST_F(PortFixture, StopReadingEndsAWaitingReadAndEveryLaterOne) {
    ASSERT_TRUE(port->setReadCeiling(std::chrono::hours(1)));
    std::uint8_t byte = 0;
    std::thread reader([&] { EXPECT_EQ(port->readByte(byte), ReadResult::Nothing); });
    port->stopReading();
    reader.join();
    EXPECT_EQ(port->readByte(byte), ReadResult::Nothing);
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

}  // namespace
}  // namespace kestrune::test
