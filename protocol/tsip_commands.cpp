#include "protocol/tsip_commands.h"

#include "protocol/stream_framer.h"
#include "protocol/tsip_codes.h"
#include "protocol/tsip_save.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kPortIndex = 0;
constexpr std::uint8_t kQuerySubcode = 0;
constexpr std::uint8_t kNoFlowControl = 0;
constexpr std::uint8_t kReserved = 0;
constexpr std::uint8_t kNmeaSubcode = 0;
constexpr std::uint8_t kNmeaIntervalSeconds = 1;
// RMC is bit 6 of the program's mask but bit 8 of the receiver's (bit 0 of its second-lowest
// byte); the other six sentences keep their places in the lowest byte.
constexpr NmeaMask kLowSixSentences = 0x3F;
constexpr std::uint8_t kReceiverRmcBit = 0x01;

}  // namespace

TsipFrame frameTsip(std::uint8_t id, std::span<const std::uint8_t> data) {
    TsipFrame frame;
    if (data.size() > TsipFrame::kMaxData) {
        return frame;
    }
    auto put = [&frame](std::uint8_t byte) { frame.buffer[frame.length++] = byte; };
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
    return frame;
}

// 10 BC 00 10 03: port configuration query for port 0.
TsipFrame portConfigQuery() {
    const std::uint8_t data[] = {kPortIndex};
    return frameTsip(kIdPortConfig, data);
}

// 10 BC 00 07 07 03 00 00 00 02 02 00 10 03: port 0 at 9600 8N1, TSIP in and out.
TsipFrame portConfig(const LineSettings& line, OutputProtocol output) {
    const std::uint8_t baud = baudCode(line.baud);
    const std::uint8_t data[] = {
        kPortIndex,                   // 0: port index
        baud,                         // 1: input baud code
        baud,                         // 2: output baud code
        kEightDataBitsCode,           // 3: data bits code
        parityCode(line.parity),      // 4: parity
        stopBitsCode(line.stopBits),  // 5: stop bits
        kNoFlowControl,               // 6: flow control
        kTsipProtocolCode,            // 7: input protocol, always TSIP so commands keep being heard
        protocolCode(output),         // 8: output protocol
        kReserved,                    // 9: reserved
    };
    return frameTsip(kIdPortConfig, data);
}

// 10 7A 00 10 03: NMEA output settings query.
TsipFrame nmeaQuery() {
    const std::uint8_t data[] = {kQuerySubcode};
    return frameTsip(kIdNmeaConfig, data);
}

// 10 27 10 03: signal levels query.
TsipFrame signalLevelQuery() {
    return frameTsip(kIdSignalLevelQuery, {});
}

// 10 7A 00 01 00 00 00 05 10 03: GGA and VTG, once a second.
TsipFrame nmeaConfig(NmeaMask sentences) {
    const auto rmc = static_cast<std::uint8_t>((sentences & kMaskRmc) != 0 ? kReceiverRmcBit : 0);
    const std::uint8_t data[] = {
        kNmeaSubcode,                                             // 0: subcode
        kNmeaIntervalSeconds,                                     // 1: output interval, seconds
        0,                                                        // 2: mask bits 31 to 24
        0,                                                        // 3: mask bits 23 to 16
        rmc,                                                      // 4: mask bits 15 to 8
        static_cast<std::uint8_t>(sentences & kLowSixSentences),  // 5: mask bits 7 to 0
    };
    return frameTsip(kIdNmeaConfig, data);
}

// 10 8E 26 10 03: write the configuration in force to non-volatile memory.
TsipFrame saveConfigCommand() {
    const std::uint8_t data[] = {kSubcodeSaveConfig};
    return frameTsip(kIdSuperCommand, data);
}

}  // namespace kestrune
