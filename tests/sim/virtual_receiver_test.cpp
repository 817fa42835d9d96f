#include "sim/virtual_receiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <thread>

#include "sim/simulated_port.h"
#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;

// What a port query draws at factory settings: 9600 bits/s both ways, 8N1, TSIP in and out.
const Bytes kFactoryReport{0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
constexpr auto kNone = Parity::None;
constexpr auto kOdd = Parity::Odd;
constexpr auto kOne = StopBits::One;
// Long enough to see that nothing comes; nothing that must arrive is waited for this briefly.
constexpr std::chrono::milliseconds kQuiet{200};

// A receiver on a sped-up clock with a port open on it, listening at 9600 8N1.
struct Bench {
    explicit Bench(const ReceiverSettings& settings = {}, const ReceiverBehaviour& behaviour = {},
                   double factor = kFactor)
        : receiver(settings, behaviour, factor), port(SimulatedPort::open(receiver)) {
        EXPECT_TRUE(port->setReadCeiling(kShortCeiling));
    }
    void send(const Bytes& bytes) { EXPECT_TRUE(port->write(bytes)); }
    void listenAt(const LineSettings& line) { EXPECT_TRUE(port->setLineSettings(line)); }
    std::vector<Frame> framesUntil(std::uint8_t id, bool keepPeriodic = false) {
        return test::framesUntil(*port, id, keepPeriodic);
    }

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

// A factor far too large still gives delays a time point can take.
TEST(SimClockTest, DelaysAreBoundedAtAnyFactor) {
    const SimClock clock(1e300);
    EXPECT_EQ(clock.byteTime(1200, 12), kLongestScaledDelay);
    EXPECT_EQ(clock.scaled(1000ms), kLongestScaledDelay);
    EXPECT_GT(SimClock::now() + clock.byteTime(1200, 12), SimClock::now());
}

struct HearingCase {
    const char* name;
    LineSettings receiver;
    LineSettings host;
    bool answers;
};

TEST(VirtualReceiverTest, AnswersAQueryOnlyAtItsOwnBaudAndParity) {
    const HearingCase cases[] = {
        {"own settings", kFactoryLine, kFactoryLine, true},
        {"stop bits differ", kFactoryLine, {9600, kNone, StopBits::Two}, true},
        {"odd parity", kFactoryLine, {9600, kOdd, kOne}, false},
        {"even parity", kFactoryLine, {9600, Parity::Even, kOne}, false},
        {"slower", kFactoryLine, {4800, kNone, kOne}, false},
        {"faster", kFactoryLine, {38400, kNone, kOne}, false},
        {"odd receiver", {38400, kOdd, kOne}, {38400, kOdd, kOne}, true},
        {"odd receiver, no parity", {38400, kOdd, kOne}, {38400, kNone, kOne}, false},
        {"even receiver", {1200, Parity::Even, kOne}, {1200, Parity::Even, kOne}, true},
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
    const LineSettings line{19200, kOdd, StopBits::Two};
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
    ReceiverSettings settings = at({38400, kOdd, kOne});
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
    const ReceiverSettings settings = at({4800, kOdd, kOne});
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
    bench.listenAt({4800, kNone, kOne});
    bench.send(kPortQuery);

    const Bytes junk = readBytes(*bench.port, 200);
    ASSERT_EQ(junk.size(), 200u);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), kDle), 0);
    EXPECT_EQ(std::count(junk.begin(), junk.end(), '$'), 0);
    EXPECT_FALSE(bench.receiver.hostWrites().at(0).heard);
}

// One set a second, all of the one fix: the week before any time of fix, the position before
// the fix mode that makes it 3D, and the same satellites in the fix as in the signal levels.
TEST(VirtualReceiverTest, InTsipModeItReportsOneFixEveryInterval) {
    // GPS seconds since 6 January 1980 of a moment of the host's clock.
    const auto gpsSecondsAt = [](std::chrono::system_clock::time_point t) {
        return std::floor(std::chrono::duration<double>(t.time_since_epoch()).count()) -
               315964800.0 + 18.0;
    };
    ReceiverBehaviour behaviour;
    behaviour.place = {-33.4489, -70.6693, 520.0};  // south and west: negative radians
    const double earliest = gpsSecondsAt(std::chrono::system_clock::now());
    Bench bench({}, behaviour);
    const std::vector<Frame> set = bench.framesUntil(0x46, true);
    const double latest = gpsSecondsAt(std::chrono::system_clock::now());
    std::vector<std::pair<std::uint8_t, std::size_t>> layout;
    for (const Frame& f : set) {
        layout.emplace_back(f.id, f.data.size());
    }
    ASSERT_EQ(layout, (std::vector<std::pair<std::uint8_t, std::size_t>>{
                          {0x41, 10}, {0x4A, 20}, {0x56, 20}, {0x6D, 24}, {0x47, 36}, {0x46, 2}}));

    const Bytes& time = set[0].data;
    const float timeOfWeek = singleAt(time, 0);
    const double gpsSeconds = u16At(time, 4) * 604800.0 + timeOfWeek;
    EXPECT_GE(gpsSeconds, earliest);
    EXPECT_LE(gpsSeconds, latest);
    EXPECT_EQ(singleAt(time, 6), 18.0f);

    const Bytes& position = set[1].data;
    constexpr double kRadians = 3.14159265358979 / 180.0;
    EXPECT_NEAR(singleAt(position, 0), -33.4489 * kRadians, 1e-6);
    EXPECT_NEAR(singleAt(position, 4), -70.6693 * kRadians, 1e-6);
    EXPECT_NEAR(singleAt(position, 8), 520.0, 0.5);
    EXPECT_EQ(singleAt(position, 16), timeOfWeek);
    EXPECT_EQ(Bytes(set[2].data.begin(), set[2].data.begin() + 16), Bytes(16, 0)) << "still";
    EXPECT_EQ(singleAt(set[2].data, 16), timeOfWeek);

    const Bytes& mode = set[3].data;
    EXPECT_EQ(mode[0], 0x74) << "3D, seven satellites";
    const Bytes& levels = set[4].data;
    for (std::size_t i = 0; i < levels[0]; ++i) {
        EXPECT_EQ(mode.at(17 + i), levels.at(1 + 5 * i));
        EXPECT_GT(singleAt(levels, 2 + 5 * i), 0.0f);
    }
    EXPECT_EQ(set[5].data, (Bytes{0x00, 0x00}));
}

struct QueryCase {
    const char* name;
    Bytes packet;
    std::vector<std::pair<std::uint8_t, std::size_t>> answers;  // IDs and data lengths
};

TEST(VirtualReceiverTest, AnswersTheStandardQueriesAndRejectsTheRest) {
    const std::pair<std::uint8_t, std::size_t> tracking{0x5C, 24};
    const QueryCase cases[] = {
        {"software version", {0x1F}, {{0x45, 10}}},
        {"hardware", {0x1C, 0x03}, {{0x1C, 38}}},
        {"GPS time", {0x21}, {{0x41, 10}}},
        {"fix mode", {0x24}, {{0x6D, 24}}},
        {"health", {0x26}, {{0x46, 2}, {0x4B, 3}}},
        {"system message", {0x28}, {{0x48, 22}}},
        {"I/O options", {0x35}, {{0x55, 4}}},
        {"set I/O options", {0x35, 0x32, 0x02, 0x00, 0x08}, {{0x55, 4}}},
        {"every satellite", {0x3C, 0x00}, std::vector(7, tracking)},
        {"one satellite", {0x3C, 0x07}, {tracking}},
        {"current port", {0xBC, 0xFF}, {{0xBC, 10}}},
        {"firmware", {0x1C, 0x01}, {{0x13, 2}}},
        {"GPS time with data", {0x21, 0x00}, {{0x13, 2}}},
        {"superpacket", {0x8E, 0x23, 0x01}, {{0x13, 3}}},
    };
    ReceiverBehaviour quiet;
    quiet.periodicOutput = false;
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, quiet);
        bench.send(frame(c.packet));
        bench.send(kNmeaQuery);  // its report marks the end of the answer
        std::vector<std::pair<std::uint8_t, std::size_t>> answers;
        for (const Frame& f : bench.framesUntil(0x7B, true)) {
            answers.emplace_back(f.id, f.data.size());
        }
        answers.pop_back();
        EXPECT_EQ(answers, c.answers);
    }
    // gpsd's speed change: a configuration for the current port is obeyed like one for port 0.
    Bench bench({}, quiet);
    bench.send(frame({0xBC, 0xFF, 0x06, 0x06, 0x03, 0x01, 0x00, 0x00, 0x02, 0x02, 0x00}));
    EXPECT_EQ(bench.receiver.settings().line, (LineSettings{4800, kOdd, kOne}));
}

}  // namespace
}  // namespace kestrune::test
