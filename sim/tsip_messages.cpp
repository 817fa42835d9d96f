#include "sim/tsip_messages.h"

#include <algorithm>
#include <array>
#include <bit>

#include "protocol/tsip_codes.h"
#include "sim/sky.h"
#include "sim/tsip_parser.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kPortIndex = 0;
// Addresses whichever port the packet arrives on: the receiver has one, so port 0.
constexpr std::uint8_t kCurrentPort = 0xFF;
constexpr std::uint8_t kNoFlowControl = 0;
constexpr std::uint8_t kReserved = 0;
constexpr std::uint8_t kNmeaSubcode = 0;

// Port configuration, data byte offsets.
enum PortField : std::size_t {
    kFieldPort,
    kFieldInBaud,
    kFieldOutBaud,
    kFieldDataBits,
    kFieldParity,
    kFieldStopBits,
    kFieldFlow,
    kFieldInProtocol,
    kFieldOutProtocol,
    kFieldReserved,
};

// NMEA configuration, data byte offsets; the mask runs most significant byte first.
constexpr std::size_t kFieldSubcode = 0;
constexpr std::size_t kFieldInterval = 1;
constexpr std::size_t kFieldMask = 2;
constexpr std::size_t kWordBytes = 4;
constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kByteMask = 0xFF;

bool isOwnPort(std::uint8_t port) {
    return port == kPortIndex || port == kCurrentPort;
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (std::size_t i = kWordBytes; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>((value >> (i * kBitsPerByte)) & kByteMask));
    }
}

}  // namespace

std::vector<std::uint8_t> tsipFrame(std::uint8_t id, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame{kTsipDle, id};
    for (const std::uint8_t byte : data) {
        frame.push_back(byte);
        if (byte == kTsipDle) {
            frame.push_back(byte);  // a DLE inside a packet goes out doubled
        }
    }
    frame.push_back(kTsipDle);
    frame.push_back(kTsipEtx);
    return frame;
}

// 10 BC 00 10 03: port configuration query for port 0 (10 BC FF 10 03: for the current port).
bool isPortQuery(std::span<const std::uint8_t> data) {
    return data.size() == kPortQueryLength && isOwnPort(data[kFieldPort]);
}

// 10 BC 00 07 07 03 00 00 00 02 02 00 10 03: 9600 bits/s, 8N1, TSIP in and out.
std::optional<ReceiverSettings> decodePortConfig(std::span<const std::uint8_t> data,
                                                 const ReceiverSettings& current) {
    if (data.size() != kPortConfigLength || !isOwnPort(data[kFieldPort]) ||
        data[kFieldInBaud] != data[kFieldOutBaud] || data[kFieldDataBits] != kEightDataBitsCode ||
        data[kFieldFlow] != kNoFlowControl || data[kFieldInProtocol] != kTsipProtocolCode) {
        return std::nullopt;
    }
    const auto baud = baudOfCode(data[kFieldInBaud]);
    const auto parity = parityOfCode(data[kFieldParity]);
    const auto output = protocolOfCode(data[kFieldOutProtocol]);
    const auto stop = stopBitsOfCode(data[kFieldStopBits]);
    // The code table also names rates the receiver does not offer (300, 600); it refuses those.
    if (!baud || !findBaudRate(*baud) || !parity || !output || !stop) {
        return std::nullopt;
    }
    ReceiverSettings next = current;
    next.line = LineSettings{*baud, *parity, *stop};
    next.output = *output;
    return next;
}

// 10 7A 00 10 03: NMEA selection query.
bool isNmeaQuery(std::span<const std::uint8_t> data) {
    return data.size() == kNmeaQueryLength && data[kFieldSubcode] == kNmeaSubcode;
}

// 10 7A 00 01 00 00 01 03 10 03: GGA, GLL and RMC every second.
std::optional<ReceiverSettings> decodeNmeaConfig(std::span<const std::uint8_t> data,
                                                 const ReceiverSettings& current) {
    if (data.size() != kNmeaConfigLength || data[kFieldSubcode] != kNmeaSubcode ||
        data[kFieldInterval] == 0) {
        return std::nullopt;
    }
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kWordBytes; ++i) {
        mask = (mask << kBitsPerByte) | data[kFieldMask + i];
    }
    ReceiverSettings next = current;
    next.intervalSeconds = data[kFieldInterval];
    next.sentenceMask = mask;
    return next;
}

std::vector<std::uint8_t> portReport(const ReceiverSettings& settings) {
    const std::uint8_t baud = baudCode(settings.line.baud);
    std::array<std::uint8_t, kPortConfigLength> data{};
    data[kFieldPort] = kPortIndex;
    data[kFieldInBaud] = baud;
    data[kFieldOutBaud] = baud;
    data[kFieldDataBits] = kEightDataBitsCode;
    data[kFieldParity] = parityCode(settings.line.parity);
    data[kFieldStopBits] = stopBitsCode(settings.line.stopBits);
    data[kFieldFlow] = kNoFlowControl;
    data[kFieldInProtocol] = kTsipProtocolCode;
    data[kFieldOutProtocol] = protocolCode(settings.output);
    data[kFieldReserved] = kReserved;
    return tsipFrame(kSimIdPortConfig, data);
}

std::vector<std::uint8_t> nmeaReport(const ReceiverSettings& settings) {
    std::vector<std::uint8_t> data{kNmeaSubcode,
                                   static_cast<std::uint8_t>(settings.intervalSeconds)};
    appendBigEndian(data, settings.sentenceMask);
    return tsipFrame(kSimIdNmeaReport, data);
}

std::vector<std::uint8_t> rejection(std::uint8_t id, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> report{id};
    report.insert(report.end(), data.begin(), data.end());
    return tsipFrame(kSimIdRejected, report);
}

std::vector<std::uint8_t> signalLevels(const SkySignals& sky) {
    std::vector<std::uint8_t> data{static_cast<std::uint8_t>(kSky.size())};
    for (std::size_t channel = 0; channel < kSky.size(); ++channel) {
        data.push_back(kSky[channel].prn);
        appendBigEndian(data, std::bit_cast<std::uint32_t>(sky[channel].level));
    }
    return tsipFrame(kSimIdSignalLevels, data);
}

}  // namespace kestrune
