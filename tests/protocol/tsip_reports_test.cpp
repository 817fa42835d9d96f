// The report payloads and sentences the program reads, decoded from bytes.
#include "protocol/tsip_reports.h"

#include <gtest/gtest.h>

#include <limits>
#include <string_view>
#include <tuple>
#include <vector>

#include "protocol/nmea_sentence.h"
#include "protocol/tsip_commands.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PortReport, DecodesTheSettingsItDescribes) {
    EXPECT_EQ(decodePortReport(Bytes{0x00, 0x06, 0x06, 0x03, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00}),
              (PortReport{{4800, Parity::None, StopBits::One}, OutputProtocol::Nmea}));
    EXPECT_EQ(decodePortReport(Bytes{0x00, 0x09, 0x09, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00}),
              (PortReport{{38400, Parity::Even, StopBits::Two}, OutputProtocol::Tsip}));
    // 300 and 600 bits/s are never offered, yet keep their codes both ways: a port configuration
    // carries the same ten bytes as the report of its settings.
    for (const auto& [code, baud] : {std::pair<std::uint8_t, std::uint32_t>{2, 300}, {3, 600}}) {
        const Bytes data{0x00, code, code, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
        const PortReport report{{baud, Parity::None, StopBits::One}, OutputProtocol::Tsip};
        EXPECT_EQ(decodePortReport(data), report);
        const TsipFrame frame = portConfig(report.line, report.output);
        EXPECT_EQ(Bytes(frame.bytes().begin() + 2, frame.bytes().end() - 2), data);
    }
}

// One byte of a good report made bad: a baud code, the output rate apart from the input rate,
// data bits, parity, stop bits, the output protocol; then reports too short.
TEST(PortReport, RefusesWhatNoReceiverPortReports) {
    const Bytes good{0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
    for (const auto& [at, value] :
         {std::pair{1, 0x0B}, {2, 0x06}, {3, 0x02}, {4, 0x03}, {5, 0x02}, {8, 0x03}}) {
        Bytes bad = good;
        bad[at] = static_cast<std::uint8_t>(value);
        EXPECT_FALSE(decodePortReport(bad)) << "byte " << at;
    }
    EXPECT_FALSE(decodePortReport(Bytes(good.begin(), good.end() - 1)));
    EXPECT_FALSE(decodePortReport(Bytes{0x00}));
}

// The lowest mask byte is taken whole, bits 6 and 7 as they are, and RMC comes from bit 8 alone
// of the higher bytes; a report too short for the mask reads the missing bytes as zero.
TEST(NmeaReport, MapsTheReceiversMaskToTheProgramsBits) {
    const std::pair<Bytes, NmeaMask> cases[] = {
        {{0x00, 0x01, 0x00, 0x00, 0x01, 0x05}, kMaskGga | kMaskVtg | kMaskRmc},
        {{0x00, 0x01, 0xFF, 0xFF, 0xFE, 0xC0}, 0xC0},
        {{0x00, 0x01, 0xFF, 0xFF, 0xFE, 0x80}, 0x80},
        {{0x00, 0x01, 0x00, 0x00, 0x01}, kMaskRmc},
        {{}, 0},
    };
    for (const auto& [data, mask] : cases) {
        EXPECT_EQ(decodeNmeaReport(data), mask);
    }
}

// A 0x47 report of two satellites, PRN 3 at level 10.0 and PRN 7 at 1.0, under a count.
Bytes twoLevels(std::uint8_t count) {
    return {count, 3, 0x41, 0x20, 0x00, 0x00, 7, 0x3F, 0x80, 0x00, 0x00};
}

// Only entries wholly present are read, however many the count promises, and never more than
// the program keeps; a last entry cut off anywhere, 1 to 4 bytes short, is left out.
TEST(SignalLevels, ReadsWholeEntriesOnlyWhateverTheCountSays) {
    const std::pair<Bytes, std::vector<SignalLevel>> cases[] = {
        {twoLevels(2), {{3, 43}, {7, 23}}},
        {twoLevels(5), {{3, 43}, {7, 23}}},
        {twoLevels(1), {{3, 43}}},
        {{}, {}},
    };
    for (const auto& [data, expected] : cases) {
        const SignalLevels levels = decodeSignalLevels(data);
        EXPECT_EQ(std::vector<SignalLevel>(levels.view().begin(), levels.view().end()), expected);
    }
    const Bytes whole = twoLevels(2);
    for (long cut = 1; cut <= 4; ++cut) {
        const Bytes torn(whole.begin(), whole.end() - cut);
        EXPECT_EQ(decodeSignalLevels(torn).count, 1u) << cut << " bytes short";
        EXPECT_EQ(decodeSignalLevels(torn).view().front(), (SignalLevel{3, 43}));
    }
    Bytes many(1 + 5 * 60, 0x01);  // sixty entries under a count of 255
    many[0] = 0xFF;
    EXPECT_EQ(decodeSignalLevels(many).count, kMaxSignalLevels);
}

// 20 log10(level) + 22.8, rounded half up (toward zero below), for every finite positive single.
TEST(SignalLevels, LevelsThatAreNotFinitePositiveAreZero) {
    using Limits = std::numeric_limits<float>;
    const float nan = Limits::quiet_NaN(), inf = Limits::infinity(), max = Limits::max();
    const float tiny = Limits::denorm_min();
    const std::pair<float, std::int32_t> cases[] = {
        {10.0f, 43}, {1.0f, 23}, {0.0684f, 0}, {0.05f, -2}, {0.0f, 0},    {-0.0f, 0},
        {-5.0f, 0},  {nan, 0},   {inf, 0},     {max, 793},  {tiny, -873},
    };
    for (const auto& [level, expected] : cases) {
        EXPECT_EQ(signalLevelValue(level), expected) << level;
    }
}

// The checksum is two hex digits in either case after '*', over what lies between '$' and '*',
// all printable; the type is the three letters after the talker, where a field follows.
TEST(NmeaSentence, ChecksumAndTypeAreReadFromTheSentence) {
    const std::tuple<std::string_view, bool, std::string_view> cases[] = {
        // Misread bytes whose XOR leaves the sum as it was, outside and at the printable range.
        {"$GPGLL,\xCC,\xC0\x0C*50", false, "GLL"},
        {"$GPGLL,\x7F,\x7F*50", false, "GLL"},
        {"$GPGLL,~,~*50", true, "GLL"},
        {"$GPGLL,\x1F,\x1F*50", false, "GLL"},
        {"$GPGLL, , *50", true, "GLL"},
        {"$GPGGA,1*5C", false, "GGA"},
        {"$GPGLL,,*50", true, "GLL"},
        {"$O*4f", true, ""},
        {"$GPRMC*4b", true, ""},
        {"$O*4F", true, ""},
        {"$GPGLL,,*5", false, "GLL"},
        {"$*00", true, ""},
        {"GPGLL,,*50", false, ""},
        {"$", false, ""},
    };
    for (const auto& [sentence, checksumHolds, type] : cases) {
        const auto bytes =
            std::span(reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size());
        EXPECT_EQ(nmeaChecksumHolds(bytes), checksumHolds) << sentence;
        EXPECT_EQ(nmeaSentenceType(bytes), type) << sentence;
    }
}

}  // namespace
}  // namespace kestrune::test
