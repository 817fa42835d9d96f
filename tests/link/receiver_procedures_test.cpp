// The receiver procedures against the virtual receiver, with every delay of both sides shrunk by
// the same factor.
#include "link/receiver_procedures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "link/receiver_link.h"
#include "link/receiver_search.h"
#include "sim/presets.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/recording_sink.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr double kFactor = 0.05;
// Rejections must be told from silence within the rejection wait; give them more room.
constexpr double kRejectionFactor = 0.3;
// Every delay of both sides an hour or more.
constexpr double kForever = 5000.0;

// The frames themselves are checked byte by byte with the builders.
Bytes bytesOf(const TsipFrame& frame) {
    return Bytes(frame.bytes().begin(), frame.bytes().end());
}
const Bytes kPortQuery = bytesOf(portConfigQuery());
const Bytes kNmeaQuery = bytesOf(nmeaQuery());
Bytes configFor(std::uint32_t baud, OutputProtocol output) {
    return bytesOf(portConfig({baud, Parity::None, StopBits::One}, output));
}

constexpr auto kOdd = Parity::Odd;
constexpr auto kNone = Parity::None;
constexpr auto kOne = StopBits::One;
const LineSettings kProbes[] = {
    {38400, kOdd, kOne}, {38400, kNone, kOne}, {19200, kOdd, kOne}, {19200, kNone, kOne},
    {9600, kOdd, kOne},  {9600, kNone, kOne},  {4800, kOdd, kOne},  {4800, kNone, kOne},
    {2400, kOdd, kOne},  {2400, kNone, kOne},  {1200, kOdd, kOne},  {1200, kNone, kOne},
};

ReceiverSettings receiverAt(LineSettings line, OutputProtocol output = OutputProtocol::Tsip) {
    ReceiverSettings settings;
    settings.line = line;
    settings.output = output;
    return settings;
}

// One virtual receiver and the link attached to it; the receiver outlives the link.
struct Rig {
    // Destroyed in reverse: the link's reader stops before the sink and the receiver go.
    VirtualReceiver receiver;
    RecordingSink sink;
    ReceiverLink link;

    explicit Rig(const ReceiverSettings& settings, const ReceiverBehaviour& behaviour = {},
                 double factor = kFactor)
        : receiver(settings, behaviour, factor),
          link(Timing{}.scaled(factor),
               [this](std::string_view) { return OpenResult{SimulatedPort::open(receiver)}; }) {
        EXPECT_TRUE(link.open());
    }

    std::optional<LineSettings> stored() const { return link.verifiedSettings(); }

    // What the host sent, merged per line setting, with the settings it went out at.
    std::vector<std::pair<Bytes, LineSettings>> sent() const {
        EXPECT_TRUE(receiver.waitForHostWrites(std::chrono::seconds(5)));
        std::vector<std::pair<Bytes, LineSettings>> commands;
        for (const HostWrite& write : receiver.hostWrites()) {
            commands.emplace_back(write.bytes, write.hostSettings);
        }
        return commands;
    }
    std::vector<Bytes> sentBytes(std::size_t from = 0) const {
        const auto all = sent();
        std::vector<Bytes> bytes;
        for (std::size_t i = from; i < all.size(); ++i) {
            bytes.push_back(all[i].first);
        }
        return bytes;
    }
};

std::vector<std::pair<Bytes, LineSettings>> probesUpTo(std::size_t count) {
    std::vector<std::pair<Bytes, LineSettings>> probes;
    for (std::size_t i = 0; i < count; ++i) {
        probes.emplace_back(kPortQuery, kProbes[i]);
    }
    return probes;
}

// Sending TSIP or sentences, the receiver is found after the probes before it; what the port
// hears at the wrong settings answers nothing.
class SearchAtEachProbe : public testing::TestWithParam<std::tuple<std::size_t, OutputProtocol>> {};

TEST_P(SearchAtEachProbe, FindsTheReceiverAfterTheProbesBeforeItAndStoresItsSettings) {
    const auto [index, output] = GetParam();
    EXPECT_EQ(probeOrder()[index], kProbes[index]);
    Rig rig(receiverAt(kProbes[index], output));
    std::vector<std::size_t> told;
    ASSERT_TRUE(searchReceiver(rig.link, [&](const ProbeProgress& p) {
        EXPECT_EQ(p.line, kProbes[p.probe - 1]);
        told.push_back(p.probe);
    }));
    EXPECT_EQ(rig.stored(), kProbes[index]);
    EXPECT_EQ(rig.sent(), probesUpTo(index + 1));
    EXPECT_EQ(told.size(), index + 1);
    EXPECT_EQ(rig.link.outputProtocol(), output);
}

INSTANTIATE_TEST_SUITE_P(ReceiverProcedures, SearchAtEachProbe,
                         testing::Combine(testing::Range<std::size_t>(0, 12),
                                          testing::Values(OutputProtocol::Tsip,
                                                          OutputProtocol::Nmea)));

// A silent receiver is probed twelve times, asked for its selection three times, and not reset.
TEST(ReceiverProcedures, ASilentReceiverIsNeitherFoundNorAskedNorReset) {
    Rig rig(receiverAt(kFactoryLine), {.answering = Answering::Silent});
    EXPECT_FALSE(searchReceiver(rig.link));
    EXPECT_EQ(rig.sent(), probesUpTo(12));
    EXPECT_FALSE(queryNmeaSettings(rig.link));
    EXPECT_EQ(rig.sentBytes(12), std::vector<Bytes>(3, kNmeaQuery));
    EXPECT_FALSE(resetReceiver(rig.link, &rig.sink));
    EXPECT_FALSE(rig.link.verified());
}

TEST(ReceiverProcedures, PortConfigIsRetriedEightTimesOnlyWhileRejected) {
    Rig rejected(receiverAt(kFactoryLine), {.answering = Answering::RejectsPortConfig},
                 kRejectionFactor);
    EXPECT_FALSE(sendPortConfigWithRetry(rejected.link, kFactoryLine, OutputProtocol::Tsip));
    EXPECT_EQ(rejected.sentBytes(), std::vector<Bytes>(8, configFor(9600, OutputProtocol::Tsip)));

    Rig accepted(receiverAt(kFactoryLine), {}, kRejectionFactor);
    EXPECT_TRUE(sendPortConfigWithRetry(accepted.link, kFactoryLine, OutputProtocol::Tsip));
    EXPECT_EQ(accepted.sentBytes(), std::vector<Bytes>{configFor(9600, OutputProtocol::Tsip)});
}

// A TSIP receiver is asked for its selection once, and the mask arrives later; one sending NMEA,
// once found at 4800, no parity, is switched to TSIP, asked once, and switched back.
TEST(ReceiverProcedures, ReadingAsksForTheSelectionOnceInTsip) {
    const std::tuple<int, std::vector<Bytes>, std::uint32_t, OutputProtocol> cases[] = {
        {1, {kNmeaQuery}, 0x59, OutputProtocol::Tsip},  // GGA, GSV, GSA and RMC: factory's
        {2,
         {configFor(4800, OutputProtocol::Tsip), kNmeaQuery, configFor(4800, OutputProtocol::Nmea)},
         0x43,
         OutputProtocol::Nmea},
    };
    for (const auto& [preset, tail, mask, output] : cases) {
        const Preset device = SimulatedDevices::preset(preset);
        Rig rig(device.settings, device.behaviour);
        ASSERT_TRUE(readReceiverSettings(rig.link, &rig.sink));
        const std::vector<Bytes> sent = rig.sentBytes();
        ASSERT_GE(sent.size(), tail.size());
        EXPECT_EQ(std::vector<Bytes>(sent.end() - tail.size(), sent.end()), tail);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), kNmeaQuery), 1);
        EXPECT_EQ(rig.sink.postsOf(kNotifyNmeaMask),
                  (std::vector<Notification>{{kNotifyNmeaMask, mask, 0}}));
        // The receiver takes the switch back in on its own thread, which may lag behind.
        ASSERT_TRUE(rig.receiver.waitForHostWrites(std::chrono::seconds(5)));
        EXPECT_EQ(rig.receiver.settings().output, output);
    }
}

// A receiver that keeps its own schedule sends no sentence for a while after the switch back;
// what the procedure set still stands.
TEST(ReceiverProcedures, AnNmeaReceiverQuietAfterTheSwitchBackIsStillNmea) {
    ReceiverSettings nmea = receiverAt({4800, kNone, kOne}, OutputProtocol::Nmea);
    nmea.intervalSeconds = 20;
    Rig rig(nmea, {.ownSchedule = true});
    ASSERT_TRUE(rig.link.configurePort(nmea.line));
    rig.link.storeVerified(nmea.line);
    rig.link.dispatch(Bytes{'$'});
    requestNmeaSelection(rig.link);
    EXPECT_EQ(rig.sentBytes().back(), configFor(4800, OutputProtocol::Nmea));
    EXPECT_EQ(rig.link.outputProtocol(), OutputProtocol::Nmea);
}

class ResetFrom : public testing::TestWithParam<ReceiverSettings> {};

TEST_P(ResetFrom, ReturnsTheReceiverToFactorySettings) {
    Rig rig(GetParam());
    ASSERT_TRUE(resetReceiver(rig.link, &rig.sink));
    EXPECT_EQ(rig.stored(), kFactoryLine);
    // The sentence selection stays.
    EXPECT_EQ(rig.receiver.settings(), receiverAt(kFactoryLine));
    EXPECT_EQ(rig.receiver.factoryResets(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ReceiverProcedures, ResetFrom,
    testing::Values(receiverAt({38400, kOdd, StopBits::Two}), receiverAt({1200, kNone, kOne}),
                    receiverAt({4800, Parity::Even, kOne}, OutputProtocol::Nmea),
                    receiverAt({19200, Parity::Even, StopBits::Two}, OutputProtocol::Nmea),
                    receiverAt(kFactoryLine)));

TEST(ReceiverProcedures, ApplyWritesTheNewConfigurationAtFactorySettingsThenVerifies) {
    Rig rig(receiverAt({38400, kOdd, kOne}));
    const LineSettings applied{19200, Parity::Even, StopBits::Two};
    ASSERT_TRUE(applySettings(rig.link, &rig.sink, {applied, OutputProtocol::Tsip, 0x05}));

    const auto sent = rig.sent();
    ASSERT_GE(sent.size(), 3u);
    const std::vector<std::pair<Bytes, LineSettings>> tail(sent.end() - 3, sent.end());
    const std::vector<std::pair<Bytes, LineSettings>> expected{
        {bytesOf(portConfig(applied, OutputProtocol::Tsip)), kFactoryLine},
        {kPortQuery, applied},
        {bytesOf(nmeaConfig(kMaskGga | kMaskVtg)), applied}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(rig.stored(), applied);
    ASSERT_TRUE(rig.receiver.waitForHostWrites(std::chrono::seconds(5)));
    ReceiverSettings expectedReceiver = receiverAt(applied);
    expectedReceiver.sentenceMask = kSentenceGga | kSentenceVtg;
    EXPECT_EQ(rig.receiver.settings(), expectedReceiver);

    // Even parity is never probed, so a search cannot find it there.
    EXPECT_FALSE(searchReceiver(rig.link));
}

TEST(ReceiverProcedures, ApplyFailsWhenTheReceiverRejectsAndStaysAway) {
    ReceiverBehaviour rejecting;
    rejecting.answering = Answering::RejectsPortConfig;
    Rig rig(receiverAt(kFactoryLine), rejecting, kRejectionFactor);
    ApplyFailure why = ApplyFailure::None;
    EXPECT_FALSE(applySettings(rig.link, &rig.sink,
                               {{19200, kOdd, kOne}, OutputProtocol::Tsip, 0x05}, &why));
    EXPECT_EQ(why, ApplyFailure::Rejected);
    EXPECT_FALSE(rig.link.verified());
    EXPECT_EQ(rig.receiver.settings().line, kFactoryLine);
}

// A cancel from another thread ends each procedure where it stands: here, at its first wait
// on a receiver that never answers, with every delay an hour or more, so a wait or sleep that a
// cancel does not wake shows as a hung test. On a port that cannot be opened each fails at once.
TEST(ReceiverProcedures, ACancelOrAClosedPortEndsEveryProcedureAtOnce) {
    ReceiverBehaviour silent;
    silent.answering = Answering::Silent;
    const std::vector<std::function<bool(ReceiverLink&, NotificationSink*)>> procedures{
        [](ReceiverLink& l, NotificationSink*) { return searchReceiver(l); },
        [](ReceiverLink& l, NotificationSink* s) { return readReceiverSettings(l, s); },
        [](ReceiverLink& l, NotificationSink*) { return switchAndVerify(l, kFactoryLine); },
        [](ReceiverLink& l, NotificationSink* s) { return resetReceiver(l, s); },
        [](ReceiverLink& l, NotificationSink* s) {
            return applySettings(l, s, {kFactoryLine, OutputProtocol::Tsip, 0});
        },
    };
    ReceiverLink closed(Timing{}.scaled(kForever), [](std::string_view) {
        return OpenResult{nullptr, OpenError::NoSuchDevice};
    });
    RecordingSink sink;
    for (std::size_t i = 0; i < procedures.size(); ++i) {
        EXPECT_FALSE(procedures[i](closed, &sink)) << i;
        EXPECT_FALSE(closed.verified()) << i;
        Rig rig(receiverAt(kFactoryLine), silent, kForever);
        std::thread cancel([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            rig.link.cancel();
        });
        EXPECT_FALSE(procedures[i](rig.link, &rig.sink)) << i;
        cancel.join();
        EXPECT_FALSE(rig.link.verified()) << i;
        EXPECT_LE(rig.receiver.hostWrites().size(), 1u) << i;  // still leaving at this pace
    }
    ApplyFailure why = ApplyFailure::None;
    EXPECT_FALSE(applySettings(closed, &sink, {kFactoryLine, OutputProtocol::Tsip, 0x05}, &why));
    EXPECT_EQ(why, ApplyFailure::Reset);
}

// Answers to every question with the same bytes, at any setting.
struct FakeRig {
    std::shared_ptr<FakePortState> state = std::make_shared<FakePortState>();
    ReceiverLink link{Timing{}.scaled(kFactor), [state = state](std::string_view) {
                          return OpenResult{std::make_unique<FakeSerialPort>(state)};
                      }};
    explicit FakeRig(Bytes answer) {
        state->answer = std::move(answer);
        EXPECT_TRUE(link.open());
    }
};

Bytes portReport(std::uint8_t baudCode, std::uint8_t parityCode, std::uint8_t stopCode,
                 std::uint8_t outputCode) {
    return {0x10,     0xBC, 0x00, baudCode,   baudCode, 0x03, parityCode,
            stopCode, 0x00, 0x02, outputCode, 0x00,     0x10, 0x03};
}

Bytes seededNoise(std::uint32_t seed) {
    Bytes noise(2048);
    for (std::uint8_t& byte : noise) {
        seed = seed * 1103515245U + 12345U;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    return noise;
}

// Verifying takes only the receiver's own answer: noise, a report of other settings, or one
// that differs in its stop bits verifies nothing.
TEST(ReceiverProcedures, VerifyingTakesNothingButTheReceiversOwnAnswer) {
    const LineSettings target{19200, kOdd, kOne};
    const Bytes answers[] = {seededNoise(1),
                             seededNoise(2),
                             seededNoise(3),
                             portReport(0x06, 0x00, 0x00, 0x02),
                             portReport(0x08, 0x01, 0x01, 0x02),
                             Bytes{0x10, 0x7B, 0x00, 0x10, 0x03}};
    for (const Bytes& answer : answers) {
        RecordingSink sink;  // outlives the link, whose reader may post to it
        FakeRig rig(answer);
        EXPECT_FALSE(switchAndVerify(rig.link, target));
        EXPECT_FALSE(resetReceiver(rig.link, &sink));
        EXPECT_FALSE(rig.link.verified());
    }
}

// Answering every question, at every setting, with a port report (and here and there a sentence
// that fails its checksum): only the probe the report describes takes it, and stores what it
// says whole, two stop bits and NMEA output included.
TEST(ReceiverProcedures, ASearchTakesOnlyAReportOfTheProbedSettingsAndStoresItWhole) {
    Bytes withSentence = portReport(0x06, 0x00, 0x00, 0x02);
    withSentence.insert(withSentence.end(), {'$', 'A', '*', '0', '0', '\r', '\n'});
    const std::tuple<Bytes, LineSettings, OutputProtocol> cases[] = {
        {withSentence, kProbes[7], OutputProtocol::Tsip},
        {portReport(0x09, 0x01, 0x01, 0x04), {38400, kOdd, StopBits::Two}, OutputProtocol::Nmea},
    };
    for (const auto& [answer, line, output] : cases) {
        FakeRig rig(answer);
        ASSERT_EQ(findReceiver(rig.link), SearchOutcome::Found);
        EXPECT_EQ(rig.link.verifiedSettings(), line);
        EXPECT_EQ(rig.link.outputProtocol(), output);
        EXPECT_EQ(rig.state->settings, line);
    }
}

// A receiver that floods the line is still heard answering: the reader keeps up with whatever
// arrives on a pseudo-terminal, however fast.
TEST(ReceiverProcedures, AnAnswerBehindAFloodIsHeard) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ready());
    ReceiverLink link(Timing{},
                      [&](std::string_view) { return openSerialDevice(pty.slavePath()); });
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(link.configurePort({4800, kNone, kOne}));
    std::thread flood([&] {
        const Bytes junk(256 * 1024, 0x55);
        (void)pty.write(junk);
        (void)pty.write(portReport(0x06, 0x00, 0x00, 0x02));
    });
    EXPECT_TRUE(awaitAnswer(link, portConfigQuery(), {4800, kNone, kOne}, AnswerRule::RateAndParity,
                            link.timing().verifyWait));
    flood.join();
}

}  // namespace
}  // namespace kestrune::test
