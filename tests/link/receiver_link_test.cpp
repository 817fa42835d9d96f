#include "link/receiver_link.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_sink.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing_support::FakePortState;
using testing_support::FakeSerialPort;
using testing_support::Notification;
using testing_support::RecordingSink;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kNoWait = 0ms;
const Timing kFast = Timing{}.scaled(0.01);

struct LinkFixture : testing::Test {
    std::shared_ptr<FakePortState> state = std::make_shared<FakePortState>();
    std::vector<std::string> openedNames;
    RecordingSink sink;  // outlives the link, whose reader may post to it
    ReceiverLink link{kFast, [this](std::string_view name) -> std::unique_ptr<SerialPort> {
                          openedNames.emplace_back(name);
                          return std::make_unique<FakeSerialPort>(state);
                      }};
};

Bytes signalReport(std::initializer_list<std::pair<std::uint8_t, float>> entries, int count = -1) {
    Bytes message{0x47, static_cast<std::uint8_t>(count < 0 ? entries.size() : count)};
    for (const auto& [prn, level] : entries) {
        const auto bits = std::bit_cast<std::uint32_t>(level);
        message.insert(
            message.end(),
            {prn, static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
             static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)});
    }
    return message;
}

struct DispatchCase {
    const char* name;
    Bytes message;
    OutputProtocol before;
    OutputProtocol after;
    bool reply;
    bool report;
    bool reject;
    std::vector<Notification> posts;
};

void PrintTo(const DispatchCase& c, std::ostream* os) {
    *os << c.name;
}

class DispatchTable : public LinkFixture, public testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTable, PulsesAndPostsAsTheMessageKindSays) {
    const DispatchCase& c = GetParam();
    link.setWindow(&sink);
    // Put outputProtocol where the case starts from.
    link.dispatch(c.before == OutputProtocol::Nmea ? Bytes{'$'} : Bytes{0x8F});

    EventWait reply(link.replyEvent());
    EventWait report(link.nmeaReportEvent());
    EventWait reject(link.rejectEvent());
    link.dispatch(c.message);

    EXPECT_EQ(link.outputProtocol(), c.after);
    EXPECT_EQ(reply.wait(kNoWait) == WaitResult::First, c.reply);
    EXPECT_EQ(report.wait(kNoWait) == WaitResult::First, c.report);
    EXPECT_EQ(reject.wait(kNoWait) == WaitResult::First, c.reject);
    EXPECT_EQ(sink.posts(), c.posts);
}

constexpr auto T = OutputProtocol::Tsip;
constexpr auto N = OutputProtocol::Nmea;
constexpr std::uint32_t kMaskMsg = kNotifyNmeaMask;
constexpr std::uint32_t kLevelMsg = kNotifySignalLevel;

const DispatchCase kDispatchCases[] = {
    {"RejectionIsTsip", {0x13, 0xBC, 0x00}, N, T, false, false, true, {}},
    {"SentenceIsNmea", {'$', 'G', 'P'}, T, N, true, false, false, {}},
    {"DollarPacketIsNmea", {0x24, 0x41}, T, N, true, false, false, {}},
    {"OtherPacketIsTsipReply", {0x8F, 0x01}, N, T, true, false, false, {}},
    {"PortReportIsTsipReply", {0xBC, 0x00, 0x07}, N, T, true, false, false, {}},
    {"NmeaReportRmcFromByte4",
     {0x7B, 0, 1, 0, 0, 0x01, 0x05},
     N,
     T,
     true,
     true,
     false,
     {{kMaskMsg, 0x45, 0}}},
    {"NmeaReportBit6Passes",
     {0x7B, 0, 1, 0, 0, 0x01, 0x45},
     N,
     T,
     true,
     true,
     false,
     {{kMaskMsg, 0x45, 0}}},
    {"NmeaReportHighBitsPass",
     {0x7B, 0, 1, 0, 0, 0x00, 0xC1},
     T,
     T,
     true,
     true,
     false,
     {{kMaskMsg, 0xC1, 0}}},
    {"ShortNmeaReportStillActedOn", {0x7B, 0}, N, T, true, true, false, {{kMaskMsg, 0, 0}}},
    {"SignalLevelsChangeNothingButPost",
     signalReport({{5, 10.0f}, {7, 1.0f}, {9, 0.0f}}),
     N,
     N,
     false,
     false,
     false,
     {{kLevelMsg, 5, 43}, {kLevelMsg, 7, 23}, {kLevelMsg, 9, 0}}},
    {"SignalCountBeyondMessageReadsWholeEntriesOnly",
     [] {
         Bytes m = signalReport({{5, 10.0f}, {7, 1.0f}}, 9);
         m.pop_back();  // the second entry is cut short
         return m;
     }(),
     T,
     T,
     false,
     false,
     false,
     {{kLevelMsg, 5, 43}}},
    {"SignalReportWithoutCount", {0x47}, T, T, false, false, false, {}},
    {"SignalCountSmallerThanEntries",
     signalReport({{5, 10.0f}, {7, 1.0f}}, 1),
     T,
     T,
     false,
     false,
     false,
     {{kLevelMsg, 5, 43}}},
};

INSTANTIATE_TEST_SUITE_P(ReceiverLink, DispatchTable, testing::ValuesIn(kDispatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SignalLevel, UntrustedLevelsPostZeroAndOthersFollowTheFormula) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, std::int32_t> cases[] = {
        {10.0f, 43},
        {1.0f, 23},
        {0.0f, 0},
        {-0.0f, 0},
        {-1.0f, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {inf, 0},
        {-inf, 0},
        {0.01f, -16},  // 20 log10(0.01) + 22.8 + 0.5 = -16.7, truncated toward zero
        {std::numeric_limits<float>::max(), 793},
        {std::numeric_limits<float>::denorm_min(), -873},
    };
    for (const auto& [level, expected] : cases) {
        EXPECT_EQ(signalLevelValue(level), expected) << level;
    }
}

TEST_F(LinkFixture, NotificationsWithoutWindowAreLost) {
    link.dispatch(Bytes{0x7B, 0, 1, 0, 0, 0, 5});
    EXPECT_TRUE(sink.posts().empty());
}

TEST_F(LinkFixture, ReaderFramesTheStreamAndTracksTheProtocol) {
    ASSERT_TRUE(link.open());
    link.setWindow(&sink);
    // Sentence then packet: TSIP. Then a report posts a mask, then a sentence: NMEA.
    state->push({'$', 'A', '\r', '\n', 0x10, 0x8F, 0x10, 0x03});
    {
        // The report's own pulse is the reader's last step for it.
        EventWait report(link.nmeaReportEvent());
        state->push({0x10, 0x7B, 0, 1, 0, 0, 0x01, 0x10, 0x10, 0x10, 0x03});
        ASSERT_EQ(report.wait(10s), WaitResult::First);
    }
    EXPECT_EQ(sink.posts(), (std::vector<Notification>{{kNotifyNmeaMask, 0x50, 0}}));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
    {
        EventWait reply(link.replyEvent());
        state->push({'$', 'B', '\r', '\n'});
        ASSERT_EQ(reply.wait(10s), WaitResult::First);
    }
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
    link.close();
    EXPECT_FALSE(state->closedUnderReader.load());
}

TEST_F(LinkFixture, FramerKeepsItsStateAcrossReopen) {
    ASSERT_TRUE(link.open());
    state->push({0x10, 0x8F, 0x01});
    ASSERT_TRUE(state->waitUntilDrained());
    link.close();
    ASSERT_TRUE(link.open());
    // Only the framer's memory of the open packet makes these two bytes a whole packet.
    EventWait reply(link.replyEvent());
    state->push({0x10, 0x03});
    EXPECT_EQ(reply.wait(10s), WaitResult::First);
}

TEST_F(LinkFixture, SameNameInOtherCaseDoesNotReopen) {
    link.setPortName("COM3:");
    link.setPortName("com3:");
    EXPECT_EQ(openedNames, std::vector<std::string>{"COM3:"});
    link.setPortName("COM4:");
    EXPECT_EQ(openedNames, (std::vector<std::string>{"COM3:", "COM4:"}));
    EXPECT_TRUE(link.isOpen());
}

TEST_F(LinkFixture, OverlongNameIsPassedWholeAndNeverShortened) {
    link.setPortName("COM123:");
    EXPECT_EQ(openedNames, std::vector<std::string>{"COM123:"});
}

TEST(ReceiverLink, OverlongNameOpensNoDevice) {
    ReceiverLink link(kFast);
    link.setPortName("COM123:");
    EXPECT_FALSE(link.isOpen());
}

TEST_F(LinkFixture, EmptyNameOpensNothing) {
    link.setPortName("");
    EXPECT_TRUE(openedNames.empty());
    EXPECT_FALSE(link.isOpen());
}

TEST(ReceiverLink, OpenFailuresLeaveTheLinkClosed) {
    ReceiverLink refused(kFast, [](std::string_view) { return std::unique_ptr<SerialPort>(); });
    EXPECT_FALSE(refused.open());
    EXPECT_FALSE(refused.isOpen());

    auto state = std::make_shared<FakePortState>();
    state->failCeiling = true;
    ReceiverLink noCeiling(
        kFast, [state](std::string_view) { return std::make_unique<FakeSerialPort>(state); });
    EXPECT_FALSE(noCeiling.open());
    EXPECT_FALSE(noCeiling.isOpen());
    EXPECT_EQ(state->closed.load(), 1);
}

TEST_F(LinkFixture, ConfigurePortChangesOnlyTheLineAndFailureClosesTheLink) {
    ASSERT_TRUE(link.open());
    link.storeVerified({4800, kParityNone, kOneStopBit});
    ASSERT_TRUE(link.configurePort(38400, kParityOdd, kTwoStopBits));
    EXPECT_EQ(state->settings, (LineSettings{38400, kParityOdd, kTwoStopBits}));
    EXPECT_TRUE(link.verified());
    EXPECT_EQ(link.baud(), 4800u);

    state->failSetSettings = true;
    EXPECT_FALSE(link.configurePort(9600, kParityNone, kOneStopBit));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.verified());
    EXPECT_FALSE(state->closedUnderReader.load());
}

TEST_F(LinkFixture, ConfigurePortOnClosedLinkFails) {
    EXPECT_FALSE(link.configurePort(9600, kParityNone, kOneStopBit));
}

TEST_F(LinkFixture, CloseStopsAReaderOnADeadPortBeforeClosingIt) {
    ASSERT_TRUE(link.open());
    {
        std::lock_guard lock(state->mutex);
        state->dead = true;
    }
    state->changed.notify_all();
    link.close();
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(state->closed.load(), 1);
    EXPECT_FALSE(state->closedUnderReader.load());
}

TEST_F(LinkFixture, CloseClearsVerifiedAndKeepsTheProtocol) {
    link.close();  // nothing open: only clears verified
    ASSERT_TRUE(link.open());
    link.storeVerified({4800, kParityNone, kOneStopBit});
    link.dispatch(Bytes{'$'});
    link.close();
    EXPECT_FALSE(link.verified());
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
}

TEST(Timing, ScaledKeepsEveryDelayPositive) {
    const Timing t = Timing{}.scaled(0.0001);
    EXPECT_EQ(t.readCeiling, 1ms);
    EXPECT_EQ(Timing{}.scaled(0.5).verifyWait, 2500ms);
    EXPECT_EQ(Timing{}.scaled(0.5).breakLength, 300ms);
}

}  // namespace
}  // namespace kestrune
