#include "sim/virtual_receiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <thread>

#include "sim/simulated_port.h"
#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};
const Bytes kNmeaQuery{0x10, 0x7A, 0x00, 0x10, 0x03};
const Bytes kFactoryReport{0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
constexpr LineSettings kFactoryLine{9600, kParityNone, kOneStopBit};

// A receiver on a sped-up clock with a port open on it, listening at 9600 8N1.
struct Bench {
    explicit Bench(const ReceiverSettings& settings = {}, const ReceiverBehaviour& behaviour = {},
                   double factor = kFactor)
        : receiver(settings, behaviour, factor), port(SimulatedPort::open(receiver)) {
        EXPECT_TRUE(port->setReadCeiling(kShortCeiling));
    }
    void send(const Bytes& bytes) { EXPECT_TRUE(port->write(bytes)); }
    void listenAt(const LineSettings& line) { EXPECT_TRUE(port->setLineSettings(line)); }

    VirtualReceiver receiver;
    std::unique_ptr<SimulatedPort> port;
};

ReceiverSettings at(std::uint32_t baud, std::uint32_t parity, std::uint32_t stopBits = 0) {
    ReceiverSettings settings;
    settings.line = LineSettings{baud, parity, stopBits};
    return settings;
}

struct HearingCase {
    const char* name;
    LineSettings receiver;
    LineSettings host;
    bool answers;
};

TEST(VirtualReceiverTest, AnswersAQueryOnlyAtItsOwnBaudAndParity) {
    const HearingCase cases[] = {
        {"own settings", {9600, kParityNone, 0}, {9600, kParityNone, 0}, true},
        {"stop bits differ", {9600, kParityNone, 0}, {9600, kParityNone, kTwoStopBits}, true},
        {"odd parity", {9600, kParityNone, 0}, {9600, kParityOdd, 0}, false},
        {"even parity", {9600, kParityNone, 0}, {9600, kParityEven, 0}, false},
        {"slower", {9600, kParityNone, 0}, {4800, kParityNone, 0}, false},
        {"faster", {9600, kParityNone, 0}, {38400, kParityNone, 0}, false},
        {"odd receiver", {38400, kParityOdd, 0}, {38400, kParityOdd, 0}, true},
        {"odd receiver, no parity", {38400, kParityOdd, 0}, {38400, kParityNone, 0}, false},
        {"even receiver", {1200, kParityEven, 0}, {1200, kParityEven, 0}, true},
    };
    for (const HearingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiverSettings settings;
        settings.line = c.receiver;
        Bench bench(settings);
        bench.listenAt(c.host);
        bench.send(kPortQuery);

        const std::vector<HostWrite> writes = bench.receiver.hostWrites();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], (HostWrite{kPortQuery, c.host, c.answers}));
        if (c.answers) {
            const auto report = waitForFrame(*bench.port, 0xBC);
            ASSERT_TRUE(report.has_value());
            EXPECT_EQ(report->data.size(), 10u);
        } else {
            EXPECT_TRUE(nothingArrives(*bench.port, 10));
        }
    }
}

TEST(VirtualReceiverTest, PortConfigurationSwitchesRightAfterItsLastByte) {
    Bench bench;
    // 19200 bits/s, odd parity, two stop bits, TSIP; a query follows in the same write.
    Bytes command{0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x01,
                  0x01, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03};
    const Bytes config = command;
    command.insert(command.end(), kPortQuery.begin(), kPortQuery.end());
    bench.send(command);

    EXPECT_EQ(bench.receiver.settings(), at(19200, kParityOdd, kTwoStopBits));
    const std::vector<HostWrite> writes = bench.receiver.hostWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], (HostWrite{config, kFactoryLine, true}));
    EXPECT_EQ(writes[1], (HostWrite{kPortQuery, kFactoryLine, false}));

    bench.listenAt({19200, kParityOdd, kTwoStopBits});
    bench.send(kPortQuery);
    std::vector<Frame> before;
    const auto report = waitForFrame(*bench.port, 0xBC, &before);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->data, (Bytes{0x00, 0x08, 0x08, 0x03, 0x01, 0x01, 0x00, 0x02, 0x02, 0x00}));
    EXPECT_TRUE(before.empty()) << "a configuration it takes draws no rejection";
}

TEST(VirtualReceiverTest, NmeaQueryReportsIntervalAndMaskMostSignificantByteFirst) {
    ReceiverSettings settings;
    settings.sentenceMask = kSentenceGsa | kSentenceRmc;  // 0x110: a data byte that is a DLE
    settings.intervalSeconds = 3;
    Bench bench(settings);
    bench.send(kNmeaQuery);
    const auto report = waitForFrame(*bench.port, 0x7B);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->data, (Bytes{0x00, 0x03, 0x00, 0x00, 0x01, 0x10}));
}

struct SelectionCase {
    Bytes command;
    std::uint32_t mask;
    std::uint32_t interval;
};

TEST(VirtualReceiverTest, NmeaConfigurationChangesTheSelectionWithoutAReply) {
    const SelectionCase cases[] = {
        {{0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x10, 0x03}, 0x05, 1},
        {{0x10, 0x7A, 0x00, 0x02, 0x00, 0x00, 0x01, 0x3F, 0x10, 0x03}, 0x13F, 2},
        {{0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03}, 0x10, 1},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.mask);
        Bench bench;
        bench.send(c.command);
        EXPECT_EQ(bench.receiver.settings().sentenceMask, c.mask);
        EXPECT_EQ(bench.receiver.settings().intervalSeconds, c.interval);
        bench.send(kNmeaQuery);
        std::vector<Frame> before;
        ASSERT_TRUE(waitForFrame(*bench.port, 0x7B, &before).has_value());
        EXPECT_TRUE(before.empty());
    }
}

struct RejectionCase {
    const char* name;
    Bytes sent;
    std::vector<Bytes> rejected;  // data of each 0x13 report: the packet's ID and data
};

TEST(VirtualReceiverTest, ReportsWhatItCannotTakeWithThePacketsIdAndData) {
    const RejectionCase cases[] = {
        {"unknown packet", {0x10, 0x8E, 0x01, 0x02, 0x10, 0x03}, {{0x8E, 0x01, 0x02}}},
        {"baud code",
         {0x10, 0xBC, 0, 0x0A, 0x0A, 3, 0, 0, 0, 2, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 0x0A, 0x0A, 3, 0, 0, 0, 2, 2, 0}}},
        {"in and out rates",
         {0x10, 0xBC, 0, 7, 8, 3, 0, 0, 0, 2, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 8, 3, 0, 0, 0, 2, 2, 0}}},
        {"data bits",
         {0x10, 0xBC, 0, 7, 7, 2, 0, 0, 0, 2, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 7, 2, 0, 0, 0, 2, 2, 0}}},
        {"parity",
         {0x10, 0xBC, 0, 7, 7, 3, 3, 0, 0, 2, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 7, 3, 3, 0, 0, 2, 2, 0}}},
        {"stop bits",
         {0x10, 0xBC, 0, 7, 7, 3, 0, 2, 0, 2, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 7, 3, 0, 2, 0, 2, 2, 0}}},
        {"input protocol",
         {0x10, 0xBC, 0, 7, 7, 3, 0, 0, 0, 4, 2, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 7, 3, 0, 0, 0, 4, 2, 0}}},
        {"output protocol",
         {0x10, 0xBC, 0, 7, 7, 3, 0, 0, 0, 2, 3, 0, 0x10, 0x03},
         {{0xBC, 0, 7, 7, 3, 0, 0, 0, 2, 3, 0}}},
        {"short port packet", {0x10, 0xBC, 0x00, 0x07, 0x10, 0x03}, {{0xBC, 0x00, 0x07}}},
        {"other port", {0x10, 0xBC, 0x01, 0x10, 0x03}, {{0xBC, 0x01}}},
        {"nmea subcode", {0x10, 0x7A, 0x01, 0x10, 0x03}, {{0x7A, 0x01}}},
        {"nmea interval 0", {0x10, 0x7A, 0, 0, 0, 0, 0, 1, 0x10, 0x03}, {{0x7A, 0, 0, 0, 0, 0, 1}}},
        {"broken framing", {0x10, 0xBC, 0x00, 0x10, 0x55, 0x10, 0x03}, {{0xBC, 0x00}, {0x55}}},
    };
    for (const RejectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.send(c.sent);
        bench.send(kPortQuery);
        std::vector<Frame> before;
        const auto report = waitForFrame(*bench.port, 0xBC, &before);
        ASSERT_TRUE(report.has_value());
        EXPECT_EQ(report->data, kFactoryReport) << "nothing it rejected was taken";
        std::vector<Frame> expected;
        for (const Bytes& data : c.rejected) {
            expected.push_back(Frame{0x13, data});
        }
        EXPECT_EQ(before, expected);
    }
}

TEST(VirtualReceiverTest, InNmeaModeItObeysButSendsOnlySentences) {
    ReceiverSettings settings;
    settings.output = OutputProtocol::Nmea;
    settings.sentenceMask = 0x13F;
    Bench bench(settings);
    bench.send(kPortQuery);
    bench.send(kNmeaQuery);
    bench.send({0x10, 0x8E, 0x10, 0x03});  // would draw a rejection in TSIP mode
    bench.send({0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x01, 0x3F, 0x10, 0x03});
    EXPECT_EQ(bench.receiver.settings().sentenceMask, 0x13Fu);

    const std::vector<std::uint8_t> bytes = readBytes(*bench.port, 1500);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), kDle), 0) << "no TSIP packet";
    const std::vector<std::string> sentences = splitSentences(bytes);
    ASSERT_FALSE(sentences.empty());
    for (const std::string& sentence : sentences) {
        EXPECT_TRUE(checksumValid(sentence)) << sentence;
    }
    for (const char* kind :
         {"$GPGGA,", "$GPGLL,", "$GPVTG,", "$GPGSV,", "$GPGSA,", "$GPZDA,", "$GPRMC,"}) {
        EXPECT_TRUE(std::any_of(sentences.begin(), sentences.end(), [kind](const std::string& s) {
            return s.starts_with(kind);
        })) << kind;
    }
}

TEST(VirtualReceiverTest, LongBreakAndQuietReturnThePortToFactorySettings) {
    ReceiverSettings settings = at(38400, kParityOdd);
    settings.output = OutputProtocol::Nmea;
    settings.sentenceMask = kSentenceGll;
    Bench bench(settings);
    bench.port->setBreak(true);
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(600 * kFactor * 2));
    bench.port->setBreak(false);

    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (bench.receiver.factoryResets() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kShortCeiling);
    }
    ReceiverSettings factory;
    factory.sentenceMask = kSentenceGll;  // the selection stays
    EXPECT_EQ(bench.receiver.settings(), factory);
    EXPECT_EQ(bench.receiver.factoryResets(), 1u);
    bench.send(kPortQuery);
    const auto report = waitForFrame(*bench.port, 0xBC);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->data, kFactoryReport);
}

TEST(VirtualReceiverTest, ShortBreakLeavesTheSettingsAlone) {
    // At real time a break must last 600 ms; a break that ends at once cannot, however the
    // machine is loaded. A reset would follow one second of quiet.
    constexpr double kRealTime = 1.0;
    const ReceiverSettings settings = at(4800, kParityOdd);
    Bench bench(settings, {}, kRealTime);
    bench.port->setBreak(true);
    bench.port->setBreak(false);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(bench.receiver.factoryResets(), 0u);
    EXPECT_EQ(bench.receiver.settings(), settings);
}

TEST(VirtualReceiverTest, NoiseAtOtherSettingsIsJunkThatOpensNothing) {
    ReceiverBehaviour behaviour;
    behaviour.noise = true;
    behaviour.noiseSeed = 7;
    Bench bench({}, behaviour);
    bench.listenAt({4800, kParityNone, kOneStopBit});
    bench.send(kPortQuery);

    const std::vector<std::uint8_t> junk = readBytes(*bench.port, 200);
    ASSERT_EQ(junk.size(), 200u);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), kDle), 0);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), '$'), 0);
    EXPECT_FALSE(bench.receiver.hostWrites().at(0).heard);
}

TEST(VirtualReceiverTest, InTsipModeItReportsSignalLevelsEveryInterval) {
    Bench bench;
    constexpr std::size_t kSatellites = 7;
    constexpr std::size_t kReportSize = 2 + 1 + kSatellites * 5 + 2;  // DLE id, count, entries
    const std::vector<std::uint8_t> bytes = readBytes(*bench.port, 2 * kReportSize);
    ASSERT_EQ(bytes.size(), 2 * kReportSize);
    for (std::size_t start = 0; start < bytes.size(); start += kReportSize) {
        const Bytes report(bytes.begin() + start, bytes.begin() + start + kReportSize);
        EXPECT_EQ(Bytes(report.begin(), report.begin() + 3), (Bytes{kDle, 0x47, kSatellites}));
        EXPECT_EQ(Bytes(report.end() - 2, report.end()), (Bytes{kDle, kEtx}));
        EXPECT_EQ(std::count(report.begin() + 2, report.end() - 2, kDle), 0);
        for (std::size_t entry = 3; entry + 5 <= report.size() - 2; entry += 5) {
            const std::uint32_t bits = std::uint32_t{report[entry + 1]} << 24 |
                                       std::uint32_t{report[entry + 2]} << 16 |
                                       std::uint32_t{report[entry + 3]} << 8 | report[entry + 4];
            EXPECT_GT(std::bit_cast<float>(bits), 0.0f) << "PRN " << int{report[entry]};
        }
    }
}

TEST(VirtualReceiverTest, SecondHostCannotAttachWhileOneIsThere) {
    VirtualReceiver receiver({}, {}, kFactor);
    auto first = SimulatedPort::open(receiver);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SimulatedPort::open(receiver), nullptr);
    first.reset();
    EXPECT_NE(SimulatedPort::open(receiver), nullptr);
}

}  // namespace
}  // namespace kestrune::test
