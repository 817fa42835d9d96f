// The receiver procedures against the virtual receiver, with every delay of both sides shrunk by
// the same factor.
#include "link/receiver_procedures.h"

#include <gtest/gtest.h>

#include "link/posix_serial_port.h"
#include "sim/presets.h"
#include "sim/pty_receiver.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"
#include "tests/support/recording_sink.h"

namespace kestrune {
namespace {

using testing_support::Notification;
using testing_support::RecordingSink;
using Bytes = std::vector<std::uint8_t>;

constexpr double kFactor = 0.05;
// Rejections must be told from silence within the rejection wait; give them more room.
constexpr double kRejectionFactor = 0.3;

const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};
const Bytes kNmeaQuery{0x10, 0x7A, 0x00, 0x10, 0x03};

Bytes portConfig(std::uint8_t baud, std::uint8_t parity, std::uint8_t stop, std::uint8_t output) {
    return {0x10, 0xBC, 0x00, baud, baud, 0x03, parity, stop, 0x00, 0x02, output, 0x00, 0x10, 0x03};
}

const LineSettings kProbes[] = {
    {38400, kParityOdd, kOneStopBit}, {38400, kParityNone, kOneStopBit},
    {19200, kParityOdd, kOneStopBit}, {19200, kParityNone, kOneStopBit},
    {9600, kParityOdd, kOneStopBit},  {9600, kParityNone, kOneStopBit},
    {4800, kParityOdd, kOneStopBit},  {4800, kParityNone, kOneStopBit},
    {2400, kParityOdd, kOneStopBit},  {2400, kParityNone, kOneStopBit},
    {1200, kParityOdd, kOneStopBit},  {1200, kParityNone, kOneStopBit},
};
constexpr LineSettings kFactoryLine{9600, kParityNone, kOneStopBit};

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
               [this](std::string_view) { return SimulatedPort::open(receiver); }) {
        EXPECT_TRUE(link.open());
    }

    LineSettings stored() const { return {link.baud(), link.parity(), link.stopBits()}; }

    // What the host sent, merged per line setting, with the settings it went out at.
    std::vector<std::pair<Bytes, LineSettings>> sent() const {
        std::vector<std::pair<Bytes, LineSettings>> commands;
        for (const HostWrite& write : receiver.hostWrites()) {
            commands.emplace_back(write.bytes, write.hostSettings);
        }
        return commands;
    }
    std::vector<Bytes> sentBytes(std::size_t from = 0) const {
        std::vector<Bytes> bytes;
        const auto all = sent();
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

class SearchAtEachProbe : public testing::TestWithParam<std::size_t> {};

TEST_P(SearchAtEachProbe, FindsTheReceiverAfterTheProbesBeforeItAndStoresItsSettings) {
    const std::size_t index = GetParam();
    Rig rig(receiverAt(kProbes[index]));
    ASSERT_TRUE(searchReceiver(rig.link));
    EXPECT_TRUE(rig.link.verified());
    EXPECT_EQ(rig.stored(), kProbes[index]);
    EXPECT_EQ(rig.sent(), probesUpTo(index + 1));
}

INSTANTIATE_TEST_SUITE_P(ReceiverProcedures, SearchAtEachProbe, testing::Range<std::size_t>(0, 12));

TEST(ReceiverProcedures, SilentReceiverIsNotFoundAfterTwelveProbes) {
    ReceiverBehaviour silent;
    silent.answering = Answering::Silent;
    Rig rig(receiverAt(kFactoryLine), silent);
    EXPECT_FALSE(searchReceiver(rig.link));
    EXPECT_FALSE(rig.link.verified());
    EXPECT_EQ(rig.sent(), probesUpTo(12));
}

TEST(ReceiverProcedures, StreamingNmeaReceiverIsFoundByItsSentences) {
    Rig rig(receiverAt({4800, kParityNone, kOneStopBit}, OutputProtocol::Nmea));
    ASSERT_TRUE(searchReceiver(rig.link));
    EXPECT_EQ(rig.stored(), (LineSettings{4800, kParityNone, kOneStopBit}));
    EXPECT_EQ(rig.link.outputProtocol(), OutputProtocol::Nmea);
}

TEST(ReceiverProcedures, NoiseAtWrongSettingsIsNeverTakenForAnAnswer) {
    ReceiverBehaviour noisy;
    noisy.noise = true;
    for (const OutputProtocol output : {OutputProtocol::Tsip, OutputProtocol::Nmea}) {
        Rig rig(receiverAt({4800, kParityNone, kOneStopBit}, output), noisy);
        ASSERT_TRUE(searchReceiver(rig.link));
        EXPECT_EQ(rig.stored(), (LineSettings{4800, kParityNone, kOneStopBit}));
        EXPECT_EQ(rig.sent(), probesUpTo(8));
    }
}

TEST(ReceiverProcedures, ClosedPortFailsAtOnceWithoutWriting) {
    ReceiverLink closed(Timing{}.scaled(kFactor),
                        [](std::string_view) { return std::unique_ptr<SerialPort>(); });
    RecordingSink sink;
    EXPECT_FALSE(searchReceiver(closed));
    EXPECT_FALSE(switchAndVerify(closed, 9600, kParityNone, kOneStopBit));
    EXPECT_FALSE(resetReceiver(closed, &sink));
    EXPECT_FALSE(readReceiverSettings(closed, &sink));
    EXPECT_FALSE(applySettings(closed, &sink, 9600, kParityNone, kOneStopBit, false, 0x05));
    EXPECT_FALSE(closed.verified());
}

TEST(ReceiverProcedures, PortConfigIsRetriedEightTimesOnlyWhileRejected) {
    ReceiverBehaviour rejecting;
    rejecting.answering = Answering::RejectsPortConfig;
    Rig rejected(receiverAt(kFactoryLine), rejecting, kRejectionFactor);
    EXPECT_FALSE(sendPortConfigWithRetry(rejected.link, 7, 0, 0, 2));
    EXPECT_EQ(rejected.sentBytes(), std::vector<Bytes>(8, portConfig(7, 0, 0, 2)));

    Rig accepted(receiverAt(kFactoryLine), {}, kRejectionFactor);
    EXPECT_TRUE(sendPortConfigWithRetry(accepted.link, 7, 0, 0, 2));
    EXPECT_EQ(accepted.sentBytes(), std::vector<Bytes>{portConfig(7, 0, 0, 2)});
}

TEST(ReceiverProcedures, ReadingAnNmeaReceiverSwitchesItToTsipToAskAndBack) {
    const Preset streaming = SimulatedDevices::preset(2);
    Rig rig(streaming.settings, streaming.behaviour);
    ASSERT_TRUE(readReceiverSettings(rig.link, &rig.sink));

    auto after = rig.sentBytes(8);  // the eight probes down to 4800, no parity
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after.front(), portConfig(6, 0, 0, 2));
    EXPECT_EQ(after.back(), portConfig(6, 0, 0, 4));
    const std::vector<Bytes> queries(after.begin() + 1, after.end() - 1);
    EXPECT_GE(queries.size(), 1u);
    EXPECT_LE(queries.size(), 3u);
    EXPECT_EQ(queries, std::vector<Bytes>(queries.size(), kNmeaQuery));
    EXPECT_EQ(rig.sink.postsOf(kNotifyNmeaMask),
              (std::vector<Notification>{{kNotifyNmeaMask, 0x43, 0}}));
    EXPECT_EQ(rig.receiver.settings().output, OutputProtocol::Nmea);
}

TEST(ReceiverProcedures, ReadingATsipReceiverAsksOnceAndTheMaskArrivesLater) {
    Rig rig(receiverAt(kFactoryLine));
    ASSERT_TRUE(readReceiverSettings(rig.link, &rig.sink));
    EXPECT_EQ(rig.sentBytes(6), std::vector<Bytes>{kNmeaQuery});
    // GGA, GSV, GSA and RMC: the receiver's factory selection.
    EXPECT_EQ(rig.sink.firstOf(kNotifyNmeaMask), (Notification{kNotifyNmeaMask, 0x59, 0}));
}

class ResetFrom : public testing::TestWithParam<ReceiverSettings> {};

TEST_P(ResetFrom, ReturnsTheReceiverToFactorySettings) {
    Rig rig(GetParam());
    ASSERT_TRUE(resetReceiver(rig.link, &rig.sink));
    EXPECT_TRUE(rig.link.verified());
    EXPECT_EQ(rig.stored(), kFactoryLine);
    EXPECT_EQ(rig.receiver.settings().line, kFactoryLine);
    EXPECT_EQ(rig.receiver.settings().output, OutputProtocol::Tsip);
    EXPECT_EQ(rig.receiver.factoryResets(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ReceiverProcedures, ResetFrom,
    testing::Values(receiverAt({38400, kParityOdd, kTwoStopBits}),
                    receiverAt({1200, kParityNone, kOneStopBit}),
                    receiverAt({4800, kParityEven, kOneStopBit}, OutputProtocol::Nmea),
                    receiverAt({19200, kParityEven, kTwoStopBits}, OutputProtocol::Nmea),
                    receiverAt(kFactoryLine)));

TEST(ReceiverProcedures, ResetWithoutAnAnsweringReceiverFails) {
    ReceiverBehaviour silent;
    silent.answering = Answering::Silent;
    Rig rig(receiverAt({4800, kParityOdd, kOneStopBit}), silent);
    EXPECT_FALSE(resetReceiver(rig.link, &rig.sink));
    EXPECT_FALSE(rig.link.verified());
}

TEST(ReceiverProcedures, ApplyWritesTheNewConfigurationAtFactorySettingsThenVerifies) {
    Rig rig(receiverAt({38400, kParityOdd, kOneStopBit}));
    ASSERT_TRUE(applySettings(rig.link, &rig.sink, 19200, kParityEven, kTwoStopBits, false, 0x05));

    const LineSettings applied{19200, kParityEven, kTwoStopBits};
    const auto sent = rig.sent();
    ASSERT_GE(sent.size(), 3u);
    const std::vector<std::pair<Bytes, LineSettings>> tail(sent.end() - 3, sent.end());
    const std::vector<std::pair<Bytes, LineSettings>> expected{
        {portConfig(8, 2, 1, 2), kFactoryLine},
        {kPortQuery, applied},
        {{0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x10, 0x03}, applied}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(rig.stored(), applied);
    EXPECT_EQ(rig.receiver.settings().line, applied);
    EXPECT_EQ(rig.receiver.settings().output, OutputProtocol::Tsip);
    EXPECT_EQ(rig.receiver.settings().sentenceMask, 0x05u);

    // Even parity is never probed, so a search cannot find it there.
    EXPECT_FALSE(searchReceiver(rig.link));
}

TEST(ReceiverProcedures, AppliedNmeaOutputIsFoundByTheNextSearch) {
    Rig rig(receiverAt(kFactoryLine));
    ASSERT_TRUE(applySettings(rig.link, &rig.sink, 4800, kParityNone, kOneStopBit, true,
                              kMaskGga | kMaskGll | kMaskRmc));
    EXPECT_EQ(rig.receiver.settings().output, OutputProtocol::Nmea);
    EXPECT_EQ(rig.receiver.settings().sentenceMask, 0x103u);
    ASSERT_TRUE(searchReceiver(rig.link));
    EXPECT_EQ(rig.stored(), (LineSettings{4800, kParityNone, kOneStopBit}));
    EXPECT_EQ(rig.link.outputProtocol(), OutputProtocol::Nmea);
}

TEST(ReceiverProcedures, ApplyFailsWhenTheReceiverRejectsAndStaysAway) {
    ReceiverBehaviour rejecting;
    rejecting.answering = Answering::RejectsPortConfig;
    Rig rig(receiverAt(kFactoryLine), rejecting, kRejectionFactor);
    EXPECT_FALSE(applySettings(rig.link, &rig.sink, 19200, kParityOdd, kOneStopBit, false, 0x05));
    EXPECT_FALSE(rig.link.verified());
    EXPECT_EQ(rig.receiver.settings().line, kFactoryLine);
}

// The same conversations through the real serial layer, with the receiver on a pseudo-terminal.
class OverPseudoTerminal : public testing::TestWithParam<ReceiverSettings> {};

TEST_P(OverPseudoTerminal, SearchAndReadFindTheReceiver) {
    VirtualReceiver receiver(GetParam(), {}, kFactor);
    const auto pty = PtyReceiver::start(receiver);
    ASSERT_NE(pty, nullptr);
    RecordingSink sink;
    ReceiverLink link(Timing{}.scaled(kFactor),
                      [&](std::string_view) { return openSerialDevice(pty->slavePath()); });
    ASSERT_TRUE(link.open());

    ASSERT_TRUE(readReceiverSettings(link, &sink));
    EXPECT_EQ((LineSettings{link.baud(), link.parity(), link.stopBits()}), GetParam().line);
    // GGA, GSV, GSA and RMC: the receiver's factory selection.
    EXPECT_EQ(sink.firstOf(kNotifyNmeaMask), (Notification{kNotifyNmeaMask, 0x59, 0}));
    EXPECT_EQ(receiver.settings().output, GetParam().output);
    link.close();
}

INSTANTIATE_TEST_SUITE_P(ReceiverProcedures, OverPseudoTerminal,
                         testing::Values(receiverAt({4800, kParityNone, kOneStopBit}),
                                         receiverAt({38400, kParityOdd, kOneStopBit}),
                                         receiverAt({4800, kParityNone, kOneStopBit},
                                                    OutputProtocol::Nmea)));

}  // namespace
}  // namespace kestrune
