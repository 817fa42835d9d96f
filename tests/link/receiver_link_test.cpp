#include "link/receiver_link.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "link/receiver_procedures.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_sink.h"

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kNoWait = 0ms;
const Timing kFast = Timing{}.scaled(0.01);

struct LinkFixture : testing::Test {
    std::shared_ptr<FakePortState> state = std::make_shared<FakePortState>();
    std::vector<std::string> openedNames;
    RecordingSink sink;  // outlives the link, whose reader may post to it
    ReceiverLink link{kFast, [this](std::string_view name) {
                          openedNames.emplace_back(name);
                          return OpenResult{std::make_unique<FakeSerialPort>(state)};
                      }};
};

struct DispatchCase {
    const char* name;
    Bytes message;
    OutputProtocol before;
    OutputProtocol after;
    // The events pulsed: Reply, Nmea report, reJect, Port report, Checked sentence.
    std::string pulsed;
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
    // clang-format off
    const std::pair<char, PulseEvent*> events[] = {{'R', &link.replyEvent()},
        {'N', &link.nmeaReportEvent()}, {'J', &link.rejectEvent()}, {'P', &link.portReportEvent()},
        {'C', &link.checkedSentenceEvent()}};
    // clang-format on
    std::vector<std::unique_ptr<EventWait>> waits;
    for (const auto& [letter, event] : events) {
        waits.push_back(std::make_unique<EventWait>(*event));
    }
    link.dispatch(c.message);

    EXPECT_EQ(link.outputProtocol(), c.after);
    std::string pulsed;
    for (std::size_t i = 0; i < waits.size(); ++i) {
        pulsed += waits[i]->wait(kNoWait) == WaitResult::First ? events[i].first : '-';
    }
    EXPECT_EQ(pulsed, c.pulsed);
    EXPECT_EQ(sink.posts(), c.posts);
}

constexpr auto T = OutputProtocol::Tsip;
constexpr auto N = OutputProtocol::Nmea;
constexpr std::uint32_t kMaskMsg = kNotifyNmeaMask;
constexpr std::uint32_t kLevelMsg = kNotifySignalLevel;

const Bytes kFactoryReport{0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
const LineSettings k4800{4800, Parity::None, StopBits::One};
const Bytes k4800Report{kDle, 0xBC, 0x00, 0x06, 0x06, 0x03, 0x00,
                        0x00, 0x00, 0x02, 0x02, 0x00, kDle, kEtx};
// Levels 10.0 and 0.0 for satellites 5 and 9.
const Bytes kLevels{0x47, 2, 5, 0x41, 0x20, 0, 0, 9, 0, 0, 0, 0};
// Satellite 5 at 44 dB-Hz, satellite 9 in view but not tracked; then one byte of it damaged.
constexpr std::string_view kGsv = "$GPGSV,1,1,02,05,40,100,44,09,10,020,*71";
const Bytes kGsvBytes(kGsv.begin(), kGsv.end());
const Bytes kDamagedGsv(kGsv.begin(), kGsv.end() - 1);

// clang-format off
const DispatchCase kDispatchCases[] = {
    {"RejectionIsTsip", {0x13, 0xBC, 0x00}, N, T, "--J--", {}},
    {"SentenceIsNmea", {'$', 'G', 'P'}, T, N, "R----", {}},
    {"ChecksummedSentence", {'$', 'A', '*', '4', '1'}, T, N, "R---C", {}},
    {"DollarPacketIsNmea", {0x24, 0x41}, T, N, "R----", {}},
    {"OtherPacketIsTsipReply", {0x8F, 0x01}, N, T, "R----", {}},
    {"ShortPortReportIsOnlyAReply", {0xBC, 0x00, 0x07}, N, T, "R----", {}},
    {"WholePortReport", kFactoryReport, N, T, "R--P-", {}},
    {"NmeaReportPostsTheMask", {0x7B, 0, 1, 0, 0, 0x01, 0x05}, N, T, "RN---",
     {{kMaskMsg, 0x45, 0}}},
    {"ShortNmeaReportHoldsNoSelection", {0x7B, 0}, N, T, "R----", {{kMaskMsg, 0, 0}}},
    {"SignalLevelsChangeNothingButPost", kLevels, N, N, "-----",
     {{kLevelMsg, 5, 43}, {kLevelMsg, 9, 0}}},
    {"SentenceLevelsPostAsReportLevels", kGsvBytes, T, N, "R---C",
     {{kLevelMsg, 5, 44}, {kLevelMsg, 9, 0}}},
    {"DamagedSentencePostsNoLevels", kDamagedGsv, T, N, "R----", {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(ReceiverLink, DispatchTable, testing::ValuesIn(kDispatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A sentence completed just after a change of settings may have been heard at the old ones (a
// UART's FIFO, a USB adapter's buffer): it checks nothing yet, nor does its address count.
TEST_F(LinkFixture, ASentenceJustAfterAChangeOfSettingsChecksNothing) {
    Timing timing = kFast;
    timing.residueWait = std::chrono::minutes{1};
    ReceiverLink slow{timing, [this](std::string_view) {
                          return OpenResult{std::make_unique<FakeSerialPort>(state)};
                      }};
    slow.setPortName("COM1");
    for (const bool changed : {false, true}) {
        ASSERT_TRUE(!changed || slow.configurePort(k4800));
        EventWait checked(slow.checkedSentenceEvent());
        slow.dispatch(Bytes{'$', 'A', '*', '4', '1'});
        EXPECT_EQ(checked.wait(kNoWait) == WaitResult::First, !changed);
        // The address is whole at the '4'; the reader takes the '5' only after it has counted
        // it, so a drained port means the count is in.
        state->push({'$', 'G', 'P', 'G', 'G', 'A', ',', '1', '2', '3', '4', '5'});
        ASSERT_TRUE(state->waitUntilDrained());
        EXPECT_EQ(slow.heardHere().addresses, changed ? 0u : 1u);
    }
}

// The reader frames the stream and tracks the protocol; its framer keeps a packet open across a
// reopen, and starts afresh when the line settings change, as a reply cut off by the change must
// not swallow the first one at the new settings.
TEST_F(LinkFixture, ReaderFramesTheStreamAcrossReopenButNotAcrossAChangeOfSettings) {
    ASSERT_TRUE(link.open());
    link.setWindow(&sink);
    state->push({'$', 'A', '\r', '\n', 0x10, 0x8F, 0x10, 0x03});
    {
        EventWait report(link.nmeaReportEvent());
        state->push({0x10, 0x7B, 0, 1, 0, 0, 0x01, 0x10, 0x10, 0x10, 0x03});
        ASSERT_EQ(report.wait(10s), WaitResult::First);
    }
    EXPECT_EQ(sink.posts(), (std::vector<Notification>{{kNotifyNmeaMask, 0x50, 0}}));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
    state->push({kDle, 0x8F, 0x01});
    ASSERT_TRUE(state->waitUntilDrained());
    link.close();
    ASSERT_TRUE(link.open());
    {
        EventWait reply(link.replyEvent());
        state->push({kDle, kEtx});  // whole only with the packet opened before the reopen
        ASSERT_EQ(reply.wait(10s), WaitResult::First);
    }
    state->push({kDle, 0xBC, 0x00, 0x07, kDle});
    ASSERT_TRUE(state->waitUntilDrained());
    ASSERT_TRUE(link.configurePort(k4800));
    EventWait report(link.portReportEvent());
    state->push(k4800Report);
    EXPECT_EQ(report.wait(10s), WaitResult::First);
    link.close();
    EXPECT_FALSE(state->closedUnderReader.load());
}

// What came in before a change of settings was heard at the old ones: it is dropped unframed
// and answers no question asked at the new settings, while the same report heard afterwards
// does.
TEST_F(LinkFixture, InputFromBeforeAChangeOfSettingsAnswersNothing) {
    ASSERT_TRUE(link.open());
    state->change([&] {
        state->holding = true;
        state->incoming.assign(k4800Report.begin(), k4800Report.end());
    });
    ASSERT_TRUE(link.configurePort(k4800));
    state->change([&] { state->holding = false; });
    EXPECT_EQ(awaitAnswer(link, portConfigQuery(), k4800, AnswerRule::RateAndParity, 100ms),
              std::nullopt);
    EXPECT_EQ(link.heardHere(), HeardTally{});
    state->answer = k4800Report;
    EXPECT_EQ(awaitAnswer(link, portConfigQuery(), k4800, AnswerRule::RateAndParity, 10s),
              (PortReport{k4800, OutputProtocol::Tsip}));
}

// A procedure that switched the receiver's output states the new protocol. A report that had
// reached the port before, however late the reader takes it, was sent in the old protocol and
// leaves the statement standing; a report that arrives after it tells the protocol again, unless
// the statement holds it as possibly queued before the change.
TEST_F(LinkFixture, OutputFromBeforeAStatedProtocolDoesNotUndoIt) {
    ASSERT_TRUE(link.open());
    state->change([&] {
        state->holding = true;
        state->incoming.assign(k4800Report.begin(), k4800Report.end());
    });
    link.setOutputProtocol(OutputProtocol::Nmea);
    {
        EventWait report(link.replyEvent());  // the last of what a report signals
        state->change([&] { state->holding = false; });
        ASSERT_EQ(report.wait(10s), WaitResult::First);
    }
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
    const auto hear = [&](const Bytes& bytes) {
        EventWait reply(link.replyEvent());
        state->push(bytes);
        return reply.wait(10s) == WaitResult::First;
    };
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
    // Queued before the change, a report may still follow it: within the bytes held, only a
    // sentence, which shows the change taken, ends the hold.
    constexpr std::uint64_t kHeldLong = 1000;
    link.setOutputProtocol(OutputProtocol::Nmea, kHeldLong);
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
    Bytes sentence = kGsvBytes;
    sentence.insert(sentence.end(), {'\r', '\n'});
    ASSERT_TRUE(hear(sentence));
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
    // Past the bytes held, a report tells the protocol again.
    link.setOutputProtocol(OutputProtocol::Nmea, k4800Report.size());
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
    link.setOutputProtocol(OutputProtocol::Nmea, kHeldLong);
    link.close();
    ASSERT_TRUE(link.open());  // the reopened port counts its input afresh
    ASSERT_TRUE(hear(k4800Report));
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Tsip);
}

// What the reader heard at the current settings: TSIP packets and sentences that check are
// messages, a sentence that fails its checksum is told apart, as another device sends those, and
// bytes outside every message are counted from the last message on.
TEST_F(LinkFixture, TheTallyCountsFailedSentencesApartFromMessages) {
    ASSERT_TRUE(link.open());
    Bytes stream = kGsvBytes;
    for (const Bytes& more : {Bytes{'\r', '\n'}, kDamagedGsv, Bytes{'\r', '\n', 0xFF},
                              Bytes{kDle, 0x8F, 0x01, kDle, kEtx}, Bytes{0x00, 'x'}}) {
        stream.insert(stream.end(), more.begin(), more.end());
    }
    state->push(stream);
    ASSERT_TRUE(state->waitUntilDrained());
    ASSERT_TRUE(link.configurePort(k4800));
    EXPECT_EQ(link.heardHere(), HeardTally{});
    state->push(stream);
    ASSERT_TRUE(state->waitUntilDrained());
    link.close();
    const HeardTally tally = link.heardHere();
    EXPECT_EQ(tally.bytes, stream.size());
    EXPECT_EQ(tally.messages, 2u);
    EXPECT_EQ(tally.badSentences, 1u);
    EXPECT_EQ(tally.strayAfterMessage, 2u);
}

// Letter case aside, the same name does not reopen; an overlong name is passed on whole (and so
// names no device); an empty one opens nothing.
TEST_F(LinkFixture, NamesOpenWhenTheyChange) {
    link.setPortName("");
    EXPECT_TRUE(openedNames.empty());
    for (const char* name : {"COM3:", "com3:", "COM4:", "COM123:"}) {
        link.setPortName(name);
    }
    EXPECT_EQ(openedNames, (std::vector<std::string>{"COM3:", "COM4:", "COM123:"}));
    ReceiverLink real(kFast);
    real.setPortName("COM123:");
    EXPECT_FALSE(real.isOpen());
    EXPECT_EQ(real.openError(), OpenError::NoSuchDevice);
}

TEST(ReceiverLink, OpenFailuresLeaveTheLinkClosedAndSayWhy) {
    ReceiverLink refused(kFast, [](std::string_view) {
        return OpenResult{nullptr, OpenError::Busy};
    });
    EXPECT_FALSE(refused.open());
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(refused.openError(), OpenError::Busy);

    auto state = std::make_shared<FakePortState>();
    state->failCeiling = true;
    ReceiverLink noCeiling(kFast, [state](std::string_view) {
        return OpenResult{std::make_unique<FakeSerialPort>(state)};
    });
    EXPECT_FALSE(noCeiling.open());
    EXPECT_FALSE(noCeiling.isOpen());
    EXPECT_EQ(state->closed.load(), 1);
}

TEST_F(LinkFixture, ConfigurePortChangesOnlyTheLineAndFailureClosesTheLink) {
    EXPECT_FALSE(link.configurePort(kFactoryLine));
    ASSERT_TRUE(link.open());
    const LineSettings verified{4800, Parity::None, StopBits::One};
    link.storeVerified(verified);
    ASSERT_TRUE(link.configurePort({38400, Parity::Odd, StopBits::Two}));
    EXPECT_EQ(state->settings, (LineSettings{38400, Parity::Odd, StopBits::Two}));
    EXPECT_EQ(link.verifiedSettings(), verified);

    state->failSetSettings = true;
    EXPECT_FALSE(link.configurePort(kFactoryLine));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.verified());
    EXPECT_FALSE(state->closedUnderReader.load());
}

// The device going away wakes a procedure's waits and leaves nothing verified; opening again
// lowers the alarm.
TEST_F(LinkFixture, ADeadPortLeavesTheLinkUnverifiedAndWakesWaits) {
    ASSERT_TRUE(link.open());
    link.storeVerified(kFactoryLine);
    {
        EventWait reply(link.replyEvent(), &link.cancellation());
        state->change([&] { state->dead = true; });
        EXPECT_EQ(reply.wait(std::chrono::hours(1)), WaitResult::Cancelled);
    }
    EXPECT_TRUE(link.deviceGone());
    EXPECT_FALSE(link.verified());
    link.close();
    EXPECT_EQ(state->closed.load(), 1);
    EXPECT_FALSE(state->closedUnderReader.load());
    state->change([&] { state->dead = false; });
    ASSERT_TRUE(link.open());
    EXPECT_FALSE(link.deviceGone());
    EXPECT_FALSE(link.cancellation().raised());
}

// With a read ceiling of an hour, only a woken reader lets close return.
TEST(ReceiverLink, CloseWakesTheReaderInsteadOfWaitingOutTheCeiling) {
    Timing slow;
    slow.readCeiling = std::chrono::hours(1);
    auto state = std::make_shared<FakePortState>();
    ReceiverLink link(slow, [state](std::string_view) {
        return OpenResult{std::make_unique<FakeSerialPort>(state)};
    });
    ASSERT_TRUE(link.open());
    std::this_thread::sleep_for(10ms);  // let the reader settle into its wait
    link.close();
    EXPECT_FALSE(state->closedUnderReader.load());
}

// Notifications without a window are lost.
TEST_F(LinkFixture, CloseClearsVerifiedAndKeepsTheProtocol) {
    link.close();  // nothing open: only clears verified
    ASSERT_TRUE(link.open());
    link.storeVerified({4800, Parity::None, StopBits::One});
    link.dispatch(Bytes{0x7B, 0, 1, 0, 0, 0, 5});
    link.dispatch(Bytes{'$'});
    EXPECT_TRUE(sink.posts().empty());
    link.close();
    EXPECT_FALSE(link.verified());
    EXPECT_EQ(link.outputProtocol(), OutputProtocol::Nmea);
}

TEST(Timing, ScaledDelaysStayBetweenAMillisecondAndADay) {
    EXPECT_EQ(Timing{}.scaled(0.0001).readCeiling, 1ms);
    EXPECT_EQ(Timing{}.scaled(0.5).verifyWait, 2500ms);
    EXPECT_EQ(Timing{}.scaled(0.5).quickProbeMargin, 75ms);
    EXPECT_EQ(Timing{}.scaled(0.5).scaled(0.5).factor, 0.25);
    EXPECT_EQ(scaleDelay(1000ms, 1e300), std::chrono::hours(24));
    EXPECT_EQ(scaleDelay(1000ms, std::numeric_limits<double>::infinity()), std::chrono::hours(24));
    EXPECT_EQ(scaleDelay(1000ms, std::numeric_limits<double>::quiet_NaN()), std::chrono::hours(24));
}

}  // namespace
}  // namespace kestrune::test
