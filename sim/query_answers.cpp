#include "sim/query_answers.h"

#include <array>
#include <optional>

#include "sim/identity_answers.h"
#include "sim/receiver_reports.h"
#include "sim/sky.h"
#include "sim/tsip_messages.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kQueryGpsTime = 0x21;
constexpr std::uint8_t kQueryFixMode = 0x24;
constexpr std::uint8_t kQueryHealth = 0x26;
constexpr std::uint8_t kQuerySignalLevels = 0x27;
constexpr std::uint8_t kQuerySystemMessage = 0x28;
constexpr std::uint8_t kQueryIoOptions = 0x35;
constexpr std::uint8_t kQueryTracking = 0x3C;

constexpr std::uint8_t kAllSatellites = 0x00;
constexpr std::size_t kIoOptionsLength = 4;

using Answer = Frames (*)(std::span<const std::uint8_t> data, const Fix& fix);

struct Query {
    std::uint8_t id;
    std::size_t length;                   // data bytes
    std::optional<std::uint8_t> subcode;  // the first data byte, where it must be one value
    Answer answer;
};

// 10 3C 00 10 03 asks for every satellite, 10 3C 07 10 03 for PRN 7 alone.
Frames tracking(std::span<const std::uint8_t> data, const Fix& fix) {
    Frames frames;
    for (std::size_t channel = 0; channel < kSky.size(); ++channel) {
        if (data[0] == kAllSatellites || data[0] == kSky[channel].prn) {
            frames.push_back(trackingReport(channel, fix));
        }
    }
    return frames;
}

// A set of I/O options and a query for them both draw the options in force.
Frames ioOptions(std::span<const std::uint8_t>, const Fix&) {
    return {ioOptionsReport()};
}

const std::array<Query, 8> kQueries{{
    {kQueryGpsTime, 0, std::nullopt,
     [](std::span<const std::uint8_t>, const Fix& fix) { return Frames{gpsTimeReport(fix)}; }},
    {kQueryFixMode, 0, std::nullopt,
     [](std::span<const std::uint8_t>, const Fix&) { return Frames{fixModeReport()}; }},
    {kQueryHealth, 0, std::nullopt,
     [](std::span<const std::uint8_t>, const Fix&) {
         return Frames{healthReport(), machineReport()};
     }},
    {kQuerySignalLevels, 0, std::nullopt,
     [](std::span<const std::uint8_t>, const Fix& fix) {
         return Frames{signalLevels(fix.satelliteSignals)};
     }},
    {kQuerySystemMessage, 0, std::nullopt,
     [](std::span<const std::uint8_t>, const Fix&) { return Frames{systemMessageReport()}; }},
    {kQueryIoOptions, 0, std::nullopt, ioOptions},
    {kQueryIoOptions, kIoOptionsLength, std::nullopt, ioOptions},
    {kQueryTracking, 1, std::nullopt, tracking},
}};

}  // namespace

Frames answerQuery(const TsipPacket& packet, const Fix& fix, const IdentityProfile& identity) {
    if (std::optional<Frames> answer = answerIdentityQuery(packet, identity)) {
        return std::move(*answer);
    }
    for (const Query& query : kQueries) {
        if (packet.id == query.id && packet.data.size() == query.length &&
            (!query.subcode || packet.data[0] == *query.subcode)) {
            return query.answer(packet.data, fix);
        }
    }
    return {};
}

}  // namespace kestrune
