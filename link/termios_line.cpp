#include "link/termios_line.h"

#include <array>

namespace kestrune {

namespace {

struct PosixSpeed {
    std::uint32_t baud;
    speed_t speed;
};

// The platform's speed constants up to the fastest rate the receiver offers; which of them the
// program uses is decided by kBaudRates alone.
constexpr std::array<PosixSpeed, 15> kPosixSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
}};

// The reader waits in poll, so a read only collects what is already there and never blocks.
constexpr cc_t kReadMinimum = 0;
constexpr cc_t kReadInterval = 0;

// A character that arrives with a parity or framing error, or as a break, is what a UART makes of
// a sender at other settings: it is dropped, never handed to the framer, so it can never help
// form a message. What arrives whole is passed on unaltered (no marking, no stripping).
constexpr tcflag_t kDropErrors = INPCK | IGNPAR | IGNBRK;
constexpr tcflag_t kNoMarks = PARMRK | ISTRIP;

void makeRaw(termios& attributes) {
    ::cfmakeraw(&attributes);
    attributes.c_iflag |= kDropErrors;
    attributes.c_iflag &= ~kNoMarks;
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cc[VMIN] = kReadMinimum;
    attributes.c_cc[VTIME] = kReadInterval;
}

void setDataBits(termios& attributes) {
    attributes.c_cflag &= ~tcflag_t{CSIZE};
    attributes.c_cflag |= CS8;
}

void disableFlowControl(termios& attributes) {
    attributes.c_cflag &= ~tcflag_t{CRTSCTS};
    attributes.c_iflag &= ~tcflag_t{IXON | IXOFF | IXANY};
}

void setParity(termios& attributes, Parity parity) {
    attributes.c_cflag &= ~tcflag_t{PARENB | PARODD};
    switch (parity) {
        case Parity::Odd:
            attributes.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            attributes.c_cflag |= PARENB;
            break;
        case Parity::None:
            break;
    }
}

void setStopBits(termios& attributes, StopBits stopBits) {
    if (stopBits == StopBits::Two) {
        attributes.c_cflag |= CSTOPB;
    } else {
        attributes.c_cflag &= ~tcflag_t{CSTOPB};
    }
}

}  // namespace

std::optional<speed_t> termiosSpeed(std::uint32_t baud) {
    if (!findBaudRate(baud)) {
        return std::nullopt;
    }
    for (const PosixSpeed& entry : kPosixSpeeds) {
        if (entry.baud == baud) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> offeredBaud(speed_t speed) {
    for (const PosixSpeed& entry : kPosixSpeeds) {
        if (entry.speed == speed && findBaudRate(entry.baud)) {
            return entry.baud;
        }
    }
    return std::nullopt;
}

bool composeLine(termios& attributes, const LineSettings& settings) {
    const std::optional<speed_t> speed = termiosSpeed(settings.baud);
    if (!speed) {
        return false;
    }
    termios composed = attributes;
    makeRaw(composed);
    setDataBits(composed);
    disableFlowControl(composed);
    setStopBits(composed, settings.stopBits);
    setParity(composed, settings.parity);
    if (::cfsetispeed(&composed, *speed) != 0 || ::cfsetospeed(&composed, *speed) != 0) {
        return false;
    }
    attributes = composed;
    return true;
}

bool lineSettingsOf(const termios& attributes, LineSettings& settings) {
    const std::optional<std::uint32_t> baud = offeredBaud(::cfgetospeed(&attributes));
    if (!baud) {
        return false;
    }
    settings.baud = *baud;
    if ((attributes.c_cflag & PARENB) == 0) {
        settings.parity = Parity::None;
    } else {
        settings.parity = (attributes.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
    }
    settings.stopBits = (attributes.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
    return true;
}

}  // namespace kestrune
