// The report payloads and sentences the program reads, decoded from bytes.
#include "protocol/tsip_reports.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "protocol/nmea_sentence.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes levelEntry(std::uint8_t prn, float level) {
    const auto bits = std::bit_cast<std::uint32_t>(level);
    return {prn, static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

Bytes signalReport(std::uint8_t count, std::initializer_list<Bytes> entries) {
    Bytes data{count};
    for (const Bytes& entry : entries) {
        data.insert(data.end(), entry.begin(), entry.end());
    }
    return data;
}

TEST(PortReport, DecodesTheSettingsItDescribes) {
    const std::optional<PortReport> nmea =
        decodePortReport(Bytes{0x00, 0x06, 0x06, 0x03, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00});
    EXPECT_EQ(nmea, (PortReport{{4800, Parity::None, StopBits::One}, OutputProtocol::Nmea}));
    const std::optional<PortReport> tsip =
        decodePortReport(Bytes{0x00, 0x09, 0x09, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00});
    EXPECT_EQ(tsip, (PortReport{{38400, Parity::Even, StopBits::Two}, OutputProtocol::Tsip}));
}

TEST(PortReport, RefusesWhatNoReceiverPortReports) {
    const Bytes good{0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
    const std::pair<std::size_t, std::uint8_t> corruptions[] = {{1, 0x0B}, {2, 0x06}, {3, 0x02},
                                                                {4, 0x03}, {5, 0x02}, {8, 0x03}};
    for (const auto& [offset, value] : corruptions) {
        Bytes bad = good;
        bad[offset] = value;
        EXPECT_FALSE(decodePortReport(bad)) << "byte " << offset;
    }
    EXPECT_FALSE(decodePortReport(Bytes(good.begin(), good.end() - 1)));
    EXPECT_FALSE(decodePortReport(Bytes{0x00}));
}

TEST(NmeaReport, MapsTheReceiversMaskToTheProgramsBits) {
    const std::pair<Bytes, NmeaMask> cases[] = {
        {{0x00, 0x01, 0x00, 0x00, 0x01, 0x05}, kMaskGga | kMaskVtg | kMaskRmc},
        {{0x00, 0x01, 0x00, 0x00, 0x00, 0x3F}, 0x3F},
        {{0x00, 0x01, 0xFF, 0xFF, 0xFE, 0xC0}, 0xC0},  // bits 6 and 7 pass as they are
        {{0x00, 0x01, 0x00, 0x00, 0x01}, kMaskRmc},    // short: the missing byte is zero
        {{}, 0},
    };
    for (const auto& [data, mask] : cases) {
        EXPECT_EQ(decodeNmeaReport(data), mask);
    }
}

TEST(SignalLevels, ReadsWholeEntriesOnlyWhateverTheCountSays) {
    const Bytes e1 = levelEntry(3, 10.0f);
    const Bytes e2 = levelEntry(7, 1.0f);
    const std::pair<Bytes, std::vector<SignalLevel>> cases[] = {
        {signalReport(2, {e1, e2}), {{3, 43}, {7, 23}}},
        {signalReport(5, {e1, e2}), {{3, 43}, {7, 23}}},  // promises more than it holds
        {signalReport(1, {e1, e2}), {{3, 43}}},
        {signalReport(2, {e1, {7, 0x3F}}), {{3, 43}}},  // a torn entry is not read
        {{}, {}},
    };
    for (const auto& [data, expected] : cases) {
        const SignalLevels levels = decodeSignalLevels(data);
        EXPECT_EQ(std::vector<SignalLevel>(levels.view().begin(), levels.view().end()), expected);
    }
    const Bytes full = Bytes(1 + 5 * 51, 0x01);
    EXPECT_EQ(decodeSignalLevels(full).count, 1u);
    Bytes many(1, 0xFF);
    for (int i = 0; i < 60; ++i) {
        const Bytes e = levelEntry(static_cast<std::uint8_t>(i), 10.0f);
        many.insert(many.end(), e.begin(), e.end());
    }
    EXPECT_EQ(decodeSignalLevels(many).count, kMaxSignalLevels);
}

TEST(SignalLevels, LevelsThatAreNotFinitePositiveAreZero) {
    const std::pair<float, std::int32_t> cases[] = {
        {10.0f, 43},
        {1.0f, 23},
        {0.0684f, 0},
        {0.05f, -2},
        {0.0f, 0},
        {-0.0f, 0},
        {-5.0f, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::infinity(), 0},
        {std::numeric_limits<float>::max(), 793},
        {std::numeric_limits<float>::denorm_min(), -873},
    };
    for (const auto& [level, expected] : cases) {
        EXPECT_EQ(signalLevelValue(level), expected) << level;
    }
}

TEST(NmeaSentence, ChecksumAndTypeAreReadFromTheSentence) {
    struct Case {
        std::string sentence;
        bool checksumHolds;
        std::string type;
    };
    const Case cases[] = {
        {"$GPGGA,1*5C", false, "GGA"},
        {"$GPGLL,,*50", true, "GLL"},
        {"$GPGLL,,*5a", false, "GLL"},
        {"$GPRMC*4b", true, ""},
        {"$GPRMC*4B", true, ""},
        {"$GPGLL,,*5", false, "GLL"},
        {"$*00", true, ""},
        {"GPGLL,,*50", false, ""},
        {"$", false, ""},
    };
    for (const Case& c : cases) {
        const auto bytes =
            std::span(reinterpret_cast<const std::uint8_t*>(c.sentence.data()), c.sentence.size());
        EXPECT_EQ(nmeaChecksumHolds(bytes), c.checksumHolds) << c.sentence;
        EXPECT_EQ(nmeaSentenceType(bytes), c.type) << c.sentence;
    }
}

}  // namespace
}  // namespace kestrune::test
