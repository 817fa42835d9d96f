#include "sim/virtual_receiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <thread>

#include "sim/simulated_port.h"
#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;

// What a port query draws at factory settings: 9600 bits/s both ways, 8N1, TSIP in and out.
const Bytes kFactoryReport{0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
// Long enough to see that nothing comes; nothing that must arrive is waited for this briefly.
constexpr std::chrono::milliseconds kQuiet{200};
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
    std::vector<Frame> framesUntil(std::uint8_t id) { return test::framesUntil(*port, id); }

    VirtualReceiver receiver;
    std::unique_ptr<SimulatedPort> port;
};

ReceiverSettings at(const LineSettings& line) {
    ReceiverSettings settings;
    settings.line = line;
    return settings;
}

ReceiverBehaviour answering(Answering answering) {
    ReceiverBehaviour behaviour;
    behaviour.answering = answering;
    return behaviour;
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
        Bench bench(at(c.receiver));
        bench.listenAt(c.host);
        bench.send(kPortQuery);
        EXPECT_EQ(bench.receiver.hostWrites(),
                  (std::vector<HostWrite>{{kPortQuery, c.host, c.answers}}));
        if (c.answers) {
            const std::vector<Frame> frames = bench.framesUntil(0xBC);
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(frames[0].id, 0xBC);
            EXPECT_EQ(frames[0].data.size(), 10u);
        } else {
            EXPECT_TRUE(readBytes(*bench.port, 1, kQuiet).empty());
        }
    }
}

// A silent receiver obeys as well, and then sends nothing at all.
TEST(VirtualReceiverTest, PortConfigurationSwitchesRightAfterItsLastByte) {
    // 19200 bits/s, odd parity, two stop bits, TSIP; a query follows in the same write.
    const Bytes packet{0xBC, 0x00, 0x08, 0x08, 0x03, 0x01, 0x01, 0x00, 0x02, 0x02, 0x00};
    const LineSettings line{19200, kParityOdd, kTwoStopBits};
    const Bytes config = frame(packet);
    Bytes command = config;
    command.insert(command.end(), kPortQuery.begin(), kPortQuery.end());
    for (const Answering kind : {Answering::ExactSettings, Answering::Silent}) {
        SCOPED_TRACE(kind == Answering::Silent ? "silent" : "answering");
        Bench bench({}, answering(kind));
        bench.send(command);
        EXPECT_EQ(bench.receiver.settings(), at(line));
        EXPECT_EQ(bench.receiver.hostWrites(),
                  (std::vector<HostWrite>{{config, kFactoryLine, true},
                                          {kPortQuery, kFactoryLine, false}}));

        bench.listenAt(line);
        bench.send(kPortQuery);
        if (kind == Answering::Silent) {
            EXPECT_TRUE(readBytes(*bench.port, 1, kQuiet).empty());
        } else {
            // A configuration it takes draws no rejection.
            EXPECT_EQ(bench.framesUntil(0xBC),
                      (std::vector<Frame>{{0xBC, Bytes(packet.begin() + 1, packet.end())}}));
        }
    }
}

struct SelectionCase {
    const char* name;
    Bytes packet;  // 0x7A 00, the interval, then the mask most significant byte first
    std::uint32_t mask;
    std::uint32_t interval;
};

// The NMEA configuration draws no reply; the query's report carries what it set, laid out as
// the configuration was.
TEST(VirtualReceiverTest, NmeaConfigurationSetsWhatTheQueryReports) {
    const SelectionCase cases[] = {
        {"GGA and VTG", {0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05}, 0x05, 1},
        {"RMC in bit 8", {0x7A, 0x00, 0x02, 0x00, 0x00, 0x01, 0x3F}, 0x13F, 2},
        {"a DLE in the mask", {0x7A, 0x00, 0x03, 0x00, 0x00, 0x01, 0x10}, 0x110, 3},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.send(frame(c.packet));
        EXPECT_EQ(bench.receiver.settings().sentenceMask, c.mask);
        EXPECT_EQ(bench.receiver.settings().intervalSeconds, c.interval);
        bench.send(kNmeaQuery);
        EXPECT_EQ(bench.framesUntil(0x7B),
                  (std::vector<Frame>{{0x7B, Bytes(c.packet.begin() + 1, c.packet.end())}}));
    }
}

struct RejectionCase {
    const char* name;
    Bytes packet;  // sent framed; its ID and data come back in a 0x13 report
    Answering answering = Answering::ExactSettings;
};

// Nothing it rejects is taken: the port query that follows finds the factory settings.
TEST(VirtualReceiverTest, ReportsWhatItCannotTakeWithThePacketsIdAndData) {
    const RejectionCase cases[] = {
        {"unknown packet", {0x8E, 0x01, 0x02}},
        {"baud code", {0xBC, 0, 0x0A, 0x0A, 3, 0, 0, 0, 2, 2, 0}},
        {"in and out rates", {0xBC, 0, 7, 8, 3, 0, 0, 0, 2, 2, 0}},
        {"data bits", {0xBC, 0, 7, 7, 2, 0, 0, 0, 2, 2, 0}},
        {"parity", {0xBC, 0, 7, 7, 3, 3, 0, 0, 2, 2, 0}},
        {"stop bits", {0xBC, 0, 7, 7, 3, 0, 2, 0, 2, 2, 0}},
        {"input protocol", {0xBC, 0, 7, 7, 3, 0, 0, 0, 4, 2, 0}},
        {"output protocol", {0xBC, 0, 7, 7, 3, 0, 0, 0, 2, 3, 0}},
        {"short port packet", {0xBC, 0x00, 0x07}},
        {"other port", {0xBC, 0x01}},
        {"nmea subcode", {0x7A, 0x01}},
        {"nmea interval 0", {0x7A, 0, 0, 0, 0, 0, 1}},
        {"a receiver that rejects every configuration",
         {0xBC, 0, 6, 6, 3, 0, 0, 0, 2, 2, 0},
         Answering::RejectsPortConfig},
    };
    for (const RejectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, answering(c.answering));
        bench.send(frame(c.packet));
        bench.send(kPortQuery);
        EXPECT_EQ(bench.framesUntil(0xBC),
                  (std::vector<Frame>{{0x13, c.packet}, {0xBC, kFactoryReport}}));
    }
    // A packet broken off by a DLE and a new ID is reported, and so is the packet that follows.
    Bench bench;
    bench.send({0x10, 0xBC, 0x00, 0x10, 0x55, 0x10, 0x03});
    bench.send(kPortQuery);
    EXPECT_EQ(bench.framesUntil(0xBC),
              (std::vector<Frame>{{0x13, {0xBC, 0x00}}, {0x13, {0x55}}, {0xBC, kFactoryReport}}));
}

// It sends the selected sentences and nothing else, none of them with a wrong checksum.
TEST(VirtualReceiverTest, InNmeaModeItObeysButSendsOnlySentences) {
    ReceiverSettings settings;
    settings.output = OutputProtocol::Nmea;
    settings.sentenceMask = kSentenceGga | kSentenceGll | kSentenceRmc;
    Bench bench(settings);
    bench.send(kPortQuery);
    bench.send(kNmeaQuery);
    bench.send(frame({0x8E}));  // would draw a rejection in TSIP mode
    bench.send(frame({0x7A, 0x00, 0x02, 0x00, 0x00, 0x01, 0x03}));  // every 2 s, the same three
    EXPECT_EQ(bench.receiver.settings().intervalSeconds, 2u);

    const Bytes bytes = readBytes(*bench.port, 600);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), kDle), 0) << "no TSIP packet";
    EXPECT_EQ(sentenceKinds(bytes), (std::set<std::string>{"$GPGGA,", "$GPGLL,", "$GPRMC,"}));
}

TEST(VirtualReceiverTest, LongBreakAndQuietReturnThePortToFactorySettings) {
    ReceiverSettings settings = at({38400, kParityOdd, kOneStopBit});
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
    EXPECT_EQ(bench.framesUntil(0xBC), (std::vector<Frame>{{0xBC, kFactoryReport}}));
}

TEST(VirtualReceiverTest, ShortBreakLeavesTheSettingsAlone) {
    // At real time a break must last 600 ms; a break that ends at once cannot, however the
    // machine is loaded. A reset would follow one second of quiet.
    constexpr double kRealTime = 1.0;
    const ReceiverSettings settings = at({4800, kParityOdd, kOneStopBit});
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

    const Bytes junk = readBytes(*bench.port, 200);
    ASSERT_EQ(junk.size(), 200u);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), kDle), 0);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), '$'), 0);
    EXPECT_FALSE(bench.receiver.hostWrites().at(0).heard);
}

TEST(VirtualReceiverTest, InTsipModeItReportsSignalLevelsEveryInterval) {
    Bench bench;
    constexpr std::size_t kSatellites = 7;
    constexpr std::size_t kReportSize = 2 + 1 + kSatellites * 5 + 2;  // DLE id, count, entries
    const Bytes bytes = readBytes(*bench.port, 2 * kReportSize);
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

}  // namespace
}  // namespace kestrune::test
