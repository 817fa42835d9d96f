#include "protocol/tsip_commands.h"

#include <array>

#include "protocol/stream_framer.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kPortIndex = 0;
constexpr std::uint8_t kQuerySubcode = 0;
constexpr std::uint8_t kEightDataBits = 3;
constexpr std::uint8_t kNoFlowControl = 0;
constexpr std::uint8_t kReserved = 0;
constexpr std::uint8_t kNmeaSubcode = 0;
constexpr std::uint8_t kNmeaIntervalSeconds = 1;
constexpr std::uint8_t kParityByteOdd = 1;
constexpr std::uint8_t kParityByteEven = 2;
constexpr std::uint8_t kParityByteNone = 0;
constexpr std::uint8_t kStopBitsByteTwo = 1;
constexpr std::uint8_t kStopBitsByteOne = 0;

// RMC is bit 6 of the local mask but bit 8 of the receiver's (bit 0 of its second-lowest byte);
// the other six sentences keep their places in the lowest byte.
constexpr NmeaMask kLowSixSentences = 0x3F;
constexpr std::uint8_t kReceiverRmcBit = 0x01;

// Framing doubles every data byte at most once and adds DLE, ID, DLE, ETX.
constexpr std::size_t kFrameOverhead = 4;
constexpr std::size_t kMaxCommandData = 10;
using CommandFrame = std::array<std::uint8_t, kFrameOverhead + 2 * kMaxCommandData>;

struct BaudEntry {
    std::uint32_t baud;
    std::uint8_t code;
};
constexpr std::array<BaudEntry, 8> kBaudCodes{
    {{300, 2}, {600, 3}, {1200, 4}, {2400, 5}, {4800, 6}, {9600, 7}, {19200, 8}, {38400, 9}}};
constexpr std::uint8_t kFallbackBaudCode = 7;

bool sendCommand(SerialPort& port, std::uint8_t id, std::span<const std::uint8_t> data) {
    CommandFrame frame{};
    const std::size_t length = frameTsip(id, data, frame);
    return length != 0 && port.write(std::span(frame).first(length));
}

}  // namespace

std::uint8_t baudCode(std::uint32_t baud) {
    for (const BaudEntry& entry : kBaudCodes) {
        if (entry.baud == baud) {
            return entry.code;
        }
    }
    return kFallbackBaudCode;
}

std::uint8_t parityByte(std::uint32_t parity) {
    switch (parity) {
        case kParityOdd:
            return kParityByteOdd;
        case kParityEven:
            return kParityByteEven;
        default:
            return kParityByteNone;
    }
}

std::uint8_t stopBitsByte(std::uint32_t stopBits) {
    return stopBits == kTwoStopBits ? kStopBitsByteTwo : kStopBitsByteOne;
}

std::uint8_t protocolByte(std::uint32_t nmea) {
    return nmea == kNmeaSelected ? kNmeaProtocolByte : kTsipProtocolByte;
}

std::size_t frameTsip(std::uint8_t id, std::span<const std::uint8_t> data,
                      std::span<std::uint8_t> frame) {
    std::size_t length = 0;
    auto put = [&](std::uint8_t byte) {
        if (length < frame.size()) {
            frame[length] = byte;
        }
        ++length;
    };
    put(kDle);
    put(id);
    for (const std::uint8_t byte : data) {
        put(byte);
        if (byte == kDle) {
            put(kDle);  // a data DLE goes out doubled
        }
    }
    put(kDle);
    put(kEtx);
    return length <= frame.size() ? length : 0;
}

// 10 BC 00 10 03: port configuration query for port 0.
bool sendPortConfigQuery(SerialPort& port) {
    const std::uint8_t data[] = {kPortIndex};
    return sendCommand(port, kIdPortConfig, data);
}

// 10 BC 00 07 07 03 00 00 00 02 02 00 10 03: port 0 at 9600 8N1, TSIP in and out.
bool sendPortConfig(SerialPort& port, std::uint8_t baud, std::uint8_t parity, std::uint8_t stopBits,
                    std::uint8_t protocol) {
    const std::uint8_t data[] = {
        kPortIndex,         // 0: port index
        baud,               // 1: input baud code
        baud,               // 2: output baud code
        kEightDataBits,     // 3: data bits code
        parity,             // 4: parity byte
        stopBits,           // 5: stop-bits byte
        kNoFlowControl,     // 6: flow control
        kTsipProtocolByte,  // 7: input protocol, always TSIP so commands keep being heard
        protocol,           // 8: output protocol
        kReserved,          // 9: reserved
    };
    return sendCommand(port, kIdPortConfig, data);
}

// 10 7A 00 10 03: NMEA output settings query.
bool sendNmeaQuery(SerialPort& port) {
    const std::uint8_t data[] = {kQuerySubcode};
    return sendCommand(port, kIdNmeaConfig, data);
}

// 10 7A 00 01 00 00 00 05 10 03: GGA and VTG, once a second.
bool sendNmeaConfig(SerialPort& port, NmeaMask mask) {
    const auto rmc = static_cast<std::uint8_t>((mask & kMaskRmc) != 0 ? kReceiverRmcBit : 0);
    const std::uint8_t data[] = {
        kNmeaSubcode,                                        // 0: subcode
        kNmeaIntervalSeconds,                                // 1: output interval, seconds
        0,                                                   // 2: mask bits 31 to 24
        0,                                                   // 3: mask bits 23 to 16
        rmc,                                                 // 4: mask bits 15 to 8 (RMC in bit 8)
        static_cast<std::uint8_t>(mask & kLowSixSentences),  // 5: mask bits 7 to 0
    };
    return sendCommand(port, kIdNmeaConfig, data);
}

}  // namespace kestrune
