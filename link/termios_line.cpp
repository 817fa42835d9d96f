#include "link/termios_line.h"

#include <array>
#include <optional>

namespace kestrune {

namespace {

struct Rate {
    std::uint32_t baud;
    speed_t speed;
};

// The rates the receiver offers.
constexpr std::array<Rate, 6> kRates{{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
}};

// The reader waits in poll, so a read only collects what is already there and never blocks.
constexpr cc_t kReadMinimum = 0;
constexpr cc_t kReadInterval = 0;

std::optional<speed_t> speedOf(std::uint32_t baud) {
    for (const Rate& rate : kRates) {
        if (rate.baud == baud) {
            return rate.speed;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> baudOf(speed_t speed) {
    for (const Rate& rate : kRates) {
        if (rate.speed == speed) {
            return rate.baud;
        }
    }
    return std::nullopt;
}

void makeRaw(termios& attributes) {
    ::cfmakeraw(&attributes);
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

bool setSpeed(termios& attributes, std::uint32_t baud) {
    const std::optional<speed_t> speed = speedOf(baud);
    return speed && ::cfsetispeed(&attributes, *speed) == 0 &&
           ::cfsetospeed(&attributes, *speed) == 0;
}

bool setParity(termios& attributes, std::uint32_t parity) {
    attributes.c_cflag &= ~tcflag_t{PARENB | PARODD};
    switch (parity) {
        case kParityNone:
            return true;
        case kParityOdd:
            attributes.c_cflag |= PARENB | PARODD;
            return true;
        case kParityEven:
            attributes.c_cflag |= PARENB;
            return true;
        default:
            return false;
    }
}

void setStopBits(termios& attributes, std::uint32_t stopBits) {
    if (stopBits == kTwoStopBits) {
        attributes.c_cflag |= CSTOPB;
    } else {
        attributes.c_cflag &= ~tcflag_t{CSTOPB};
    }
}

}  // namespace

bool composeLine(termios& attributes, const LineSettings& settings) {
    termios composed = attributes;
    makeRaw(composed);
    setDataBits(composed);
    disableFlowControl(composed);
    setStopBits(composed, settings.stopBits);
    if (!setSpeed(composed, settings.baud) || !setParity(composed, settings.parity)) {
        return false;
    }
    attributes = composed;
    return true;
}

bool lineSettingsOf(const termios& attributes, LineSettings& settings) {
    const std::optional<std::uint32_t> baud = baudOf(::cfgetospeed(&attributes));
    if (!baud) {
        return false;
    }
    settings.baud = *baud;
    if ((attributes.c_cflag & PARENB) == 0) {
        settings.parity = kParityNone;
    } else {
        settings.parity = (attributes.c_cflag & PARODD) != 0 ? kParityOdd : kParityEven;
    }
    settings.stopBits = (attributes.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    return true;
}

}  // namespace kestrune
