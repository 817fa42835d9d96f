// The virtual receiver as a host meets it: through a simulated port, through the preset device
// names and through a pseudo-terminal; and the time and place of the fix it reports. The tests
// frame what they send themselves and read what comes back with the program's own framer, which
// so also checks the receiver's encoder.
#include "sim/virtual_receiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <numbers>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "link/serial_opener.h"
#include "protocol/nmea_sentence.h"
#include "protocol/stream_framer.h"
#include "sim/nmea_output.h"
#include "sim/presets.h"
#include "sim/pty_receiver.h"
#include "sim/simulated_port.h"

namespace kestrune::test {
namespace {

using namespace std::chrono;
using enum Parity;
using enum StopBits;
using Bytes = std::vector<std::uint8_t>;
using Frame = std::pair<std::uint8_t, Bytes>;  // a packet's ID and data
using IdsAndLengths = std::vector<std::pair<std::uint8_t, std::size_t>>;

constexpr double kFactor = 0.05;
// Waits for what must arrive; long enough for a loaded machine, never reached when all is well.
constexpr milliseconds kGenerous = 5s;
// The port configuration query, and what it draws at factory settings: 9600 bits/s both ways,
// 8N1, TSIP in and out. Where nothing must come, the tests wait 200 ms: long enough to see that
// nothing comes, while nothing that must arrive is waited for this briefly.
const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};
const Bytes kFactoryReport{0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
// A receiver that speaks only when asked, so that its answers can be read byte for byte.
constexpr ReceiverBehaviour kAsked{.periodicOutput = false};

// Packets of ID and data, each framed by DLE ... DLE ETX with every DLE inside doubled.
Bytes frames(std::initializer_list<Bytes> packets) {
    Bytes framed;
    for (const Bytes& packet : packets) {
        framed.push_back(kDle);
        for (const std::uint8_t byte : packet) {
            framed.insert(framed.end(), byte == kDle ? 2 : 1, byte);
        }
        framed.insert(framed.end(), {kDle, kEtx});
    }
    return framed;
}

// Reads until count bytes have arrived or the wait is over.
Bytes readBytes(SerialPort& port, std::size_t count, milliseconds wait = kGenerous) {
    Bytes bytes;
    for (const auto end = steady_clock::now() + wait;
         bytes.size() < count && steady_clock::now() < end;) {
        std::uint8_t byte = 0;
        if (port.readByte(byte) == ReadResult::Byte) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

// The TSIP frames that arrive, up to and including the first with id; if none with id comes
// within the generous wait, what came until then.
std::vector<Frame> framesUntil(SerialPort& port, std::uint8_t id) {
    std::vector<Frame> got;
    StreamFramer framer;
    for (const auto end = steady_clock::now() + kGenerous;
         steady_clock::now() < end && (got.empty() || got.back().first != id);) {
        std::uint8_t byte = 0;
        const auto message =
            port.readByte(byte) == ReadResult::Byte ? framer.feed(byte) : std::nullopt;
        if (message && (*message)[0] != kSentenceStart) {
            got.emplace_back((*message)[0], Bytes(message->begin() + 1, message->end()));
        }
    }
    return got;
}

IdsAndLengths idsAndLengths(const std::vector<Frame>& got) {
    IdsAndLengths layout;
    for (const auto& [id, data] : got) {
        layout.emplace_back(id, data.size());
    }
    return layout;
}

// A receiver on a sped-up clock with a port open on it, listening at 9600 8N1.
struct Bench {
    explicit Bench(const ReceiverSettings& settings = {},
                   const ReceiverBehaviour& behaviour = kAsked, double factor = kFactor)
        : receiver(settings, behaviour, factor), port(SimulatedPort::open(receiver)) {
        EXPECT_TRUE(port->setReadCeiling(10ms));
    }
    void send(const Bytes& bytes) { EXPECT_TRUE(port->write(bytes)); }
    // The next bytes to arrive are the frames of these packets.
    void expectFrames(std::initializer_list<Bytes> packets) {
        const Bytes expected = frames(packets);
        EXPECT_EQ(readBytes(*port, expected.size()), expected);
    }

    VirtualReceiver receiver;
    std::unique_ptr<SimulatedPort> port;
};

// A factor far too large still gives a line time that a time point can take.
TEST(SimClockTest, LineTimeIsBoundedAtAnyFactor) {
    EXPECT_EQ(SimClock(1e300).bitsTime(12, 1200), kLongestScaledDelay);
}

// A query in the same write is no longer heard. A silent receiver obeys as well, and then sends
// nothing at all, not even its periodic reports; one that answers (here only when asked, so that
// its answer can be read byte for byte) does not reject a configuration it takes. A configuration
// for the current port (0xFF) is one for port 0, the only one.
TEST(VirtualReceiverTest, PortConfigurationSwitchesRightAfterItsLastByte) {
    // 19200 bits/s, even parity (which the pseudo-terminal test cannot try), two stop bits, TSIP
    const Bytes packet{0xBC, 0xFF, 0x08, 0x08, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00};
    const Bytes report{0xBC, 0x00, 0x08, 0x08, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00};
    const Bytes command = frames({packet, {0xBC, 0x00}});
    for (const bool silent : {false, true}) {
        Bench bench({}, {.answering = silent ? Answering::Silent : Answering::ExactSettings,
                         .periodicOutput = silent});
        bench.send(command);
        ASSERT_TRUE(bench.receiver.waitForHostWrites(kGenerous));
        EXPECT_EQ(bench.receiver.settings(), (ReceiverSettings{.line = {19200, Even, Two}}));
        EXPECT_EQ(bench.receiver.hostWrites(),
                  (std::vector<HostWrite>{{frames({packet}), kFactoryLine, true},
                                          {kPortQuery, kFactoryLine, false}}));
        EXPECT_TRUE(bench.port->setLineSettings({19200, Even, Two}));
        bench.send(kPortQuery);
        EXPECT_EQ(readBytes(*bench.port, 14, silent ? 200ms : kGenerous),
                  silent ? Bytes{} : frames({report}));
    }
}

// The NMEA configuration draws no reply; the query's report carries what it set, laid out as
// the configuration was: the interval, then the mask most significant byte first.
TEST(VirtualReceiverTest, NmeaConfigurationSetsWhatTheQueryReports) {
    Bench bench;
    // Every 3 s, GSA and RMC; then the NMEA query.
    bench.send(frames({{0x7A, 0x00, 0x03, 0x00, 0x00, 0x01, 0x10}, {0x7A, 0x00}}));
    bench.expectFrames({{0x7B, 0x00, 0x03, 0x00, 0x00, 0x01, 0x10}});
}

// A packet it cannot take comes back whole in a 0x13 report and changes nothing; the NMEA query
// that follows is answered with the factory selection (GGA, GSV, GSA, RMC every second).
TEST(VirtualReceiverTest, RejectsWhatItCannotTakeWithThePacketsIdAndData) {
    const auto expectRejected = [](const Bytes& packet, ReceiverBehaviour behaviour) {
        SCOPED_TRACE(testing::PrintToString(packet));
        behaviour.periodicOutput = false;
        Bench bench({}, behaviour);
        bench.send(frames({packet, {0x7A, 0x00}}));  // an NMEA query follows
        EXPECT_EQ(
            framesUntil(*bench.port, 0x7B),
            (std::vector<Frame>{{0x13, packet}, {0x7B, {0x00, 0x01, 0x00, 0x00, 0x01, 0x19}}}));
        EXPECT_EQ(bench.receiver.settings(), ReceiverSettings{});
    };
    // NMEA interval 0; a superpacket; an identity subcode; GPS time with data; a short port
    // configuration; another port's query; an NMEA subcode.
    std::vector<Bytes> packets{
        {0x7A, 0, 0, 0, 0, 0, 1}, {0x8E, 0x23, 0x01}, {0x1C, 0x02}, {0x21, 0x00},
        {0xBC, 0x00, 0x07},       {0xBC, 0x01},       {0x7A, 0x01},
    };
    // One field of the factory configuration made bad: port, output rate, data bits, parity,
    // stop bits, flow control, input and output protocol; then a baud code both ways.
    for (const auto& [at, bad] :
         {std::pair{1, 1}, {3, 8}, {4, 2}, {5, 3}, {6, 2}, {7, 1}, {8, 4}, {9, 3}}) {
        packets.push_back(kFactoryReport);
        packets.back()[at] = static_cast<std::uint8_t>(bad);
    }
    packets.push_back({0xBC, 0x00, 0x0A, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00});
    for (const Bytes& packet : packets) {
        expectRejected(packet, {});
    }
    expectRejected(kFactoryReport, {.answering = Answering::RejectsPortConfig});
    for (const Bytes& query : {Bytes{0x1F}, Bytes{0x1C, 0x01}, Bytes{0x1C, 0x03}}) {
        expectRejected(query, {.identity = {.answers = false}});
    }
}

// Its own parser: noise, DLE ETX and DLE 00 open nothing; a packet broken off by a DLE and a new
// ID is reported, even one that would be a query whole, and so is the packet that ID starts; an
// overlong packet is reported with its first 256 data bytes; a doubled DLE before an ID keeps it
// waiting for the ID.
TEST(VirtualReceiverTest, ReportsBrokenAndOverlongPacketsAndIgnoresWhatOpensNone) {
    Bench bench;
    Bytes stream{0x41, 0xFF, 0x10, 0x03, 0x10, 0x00, 0x05, 0x10, 0x03, 0x10,
                 0xBC, 0x00, 0x10, 0x55, 0x01, 0x10, 0x03, 0x10, 0x8E};
    stream.insert(stream.end(), 257, 0x01);
    stream.insert(stream.end(), {0x10, 0x03, 0x10, 0x10, 0xBC, 0x00, 0x10, 0x03});  // a port query
    bench.send(stream);
    Bytes overlong{0x13, 0x8E};
    overlong.insert(overlong.end(), 256, 0x01);
    bench.expectFrames({{0x13, 0xBC, 0x00}, {0x13, 0x55, 0x01}, overlong, kFactoryReport});
    // Whether the overlong packet was whole the receiver cannot show: it rejects one as long.
    TsipParser parser;
    std::vector<bool> wellFramed;
    for (const std::uint8_t byte : stream) {
        if (const auto packet = parser.feed(byte)) {
            wellFramed.push_back(packet->wellFramed);
        }
    }
    EXPECT_EQ(wellFramed, (std::vector<bool>{false, true, false, true}));
}

// The IDs and data lengths of the answers, up to the report to the NMEA query sent after each
// (n): software version, firmware, hardware, GPS time, fix mode, health, signal levels, system
// message, I/O options asked and set, tracking of every satellite (t) and of one, the current
// port (0xFF).
TEST(VirtualReceiverTest, AnswersTheStandardQueries) {
    const std::pair<std::uint8_t, std::size_t> t{0x5C, 24}, n{0x7B, 6};
    const std::pair<Bytes, IdsAndLengths> cases[] = {
        {{0x1F}, {{0x45, 10}, n}},
        {{0x1C, 0x01}, {{0x1C, 35}, n}},
        {{0x1C, 0x03}, {{0x1C, 38}, n}},
        {{0x21}, {{0x41, 10}, n}},
        {{0x24}, {{0x6D, 24}, n}},
        {{0x26}, {{0x46, 2}, {0x4B, 3}, n}},
        {{0x27}, {{0x47, 36}, n}},
        {{0x28}, {{0x48, 22}, n}},
        {{0x35}, {{0x55, 4}, n}},
        {{0x35, 0x32, 0x02, 0x00, 0x08}, {{0x55, 4}, n}},
        {{0x3C, 0x00}, {t, t, t, t, t, t, t, n}},
        {{0x3C, 0x07}, {t, n}},
        {{0xBC, 0xFF}, {{0xBC, 10}, n}},
    };
    for (const auto& [packet, answers] : cases) {
        SCOPED_TRACE(testing::PrintToString(packet));
        Bench bench;
        bench.send(frames({packet, {0x7A, 0x00}}));
        EXPECT_EQ(idsAndLengths(framesUntil(*bench.port, 0x7B)), answers);
    }
}

// It obeys but sends the selected sentences and nothing else, none with a wrong checksum.
TEST(VirtualReceiverTest, InNmeaModeItObeysButSendsOnlySentences) {
    Bench bench({.output = OutputProtocol::Nmea}, {});
    // A port query, an NMEA query, a packet that would draw a rejection in TSIP mode, and a
    // selection of GGA, GLL and RMC every 2 s.
    bench.send(frames({{0xBC, 0x00}, {0x7A, 0x00}, {0x8E}, {0x7A, 0, 2, 0, 0, 0x01, 0x03}}));
    ASSERT_TRUE(bench.receiver.waitForHostWrites(kGenerous));
    EXPECT_EQ(bench.receiver.settings().intervalSeconds, 2u);
    const Bytes bytes = readBytes(*bench.port, 600);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), kDle), 0) << "no TSIP packet";
    std::set<std::string> kinds;
    StreamFramer framer;
    for (const std::uint8_t byte : bytes) {
        if (const auto got = framer.feed(byte)) {
            kinds.insert(nmeaChecksumHolds(*got) ? std::string(nmeaSentenceType(*got)) : "bad");
        }
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"GGA", "GLL", "RMC"}));
}

// Afterwards it speaks TSIP at 9600 bits/s again, which the host hears.
TEST(VirtualReceiverTest, LongBreakAndQuietReturnThePortToFactorySettings) {
    Bench bench({{38400, Odd, One}, OutputProtocol::Nmea, kSentenceGll}, {});
    bench.port->setBreak(true);
    std::this_thread::sleep_for(duration<double, std::milli>(600 * kFactor * 2));
    bench.port->setBreak(false);
    EXPECT_EQ(framesUntil(*bench.port, 0x41).size(), 1u);
    EXPECT_EQ(bench.receiver.settings(), ReceiverSettings{.sentenceMask = kSentenceGll});
    EXPECT_EQ(bench.receiver.factoryResets(), 1u);
}

// At real time a break must last 600 ms; a break that ends at once cannot, however the machine
// is loaded. A reset would follow one second of quiet. The break still cuts a packet under way.
TEST(VirtualReceiverTest, ShortBreakLeavesTheSettingsAloneButCutsAPacket) {
    Bench bench({.line = {9600, None, Two}}, kAsked, 1.0);
    bench.send({0x10, 0x8E, 0x01});
    bench.port->setBreak(true);
    bench.port->setBreak(false);
    std::this_thread::sleep_for(1500ms);
    bench.send(kPortQuery);  // its answer shows the settings, two stop bits, are still there
    bench.expectFrames({{0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x01, 0x00, 0x02, 0x02, 0x00}});
}

// The largest output backlog seen while the condition holds, within the generous wait; no
// buffer is ever seen beyond its size.
template <class While>
std::size_t largestOutputBacklog(const VirtualReceiver& receiver, While condition) {
    std::size_t most = 0;
    for (const auto end = steady_clock::now() + kGenerous;
         condition(most) && steady_clock::now() < end; std::this_thread::sleep_for(1ms)) {
        EXPECT_LE(receiver.inputBacklog(), VirtualReceiver::kInputCapacity);
        most = std::max(most, receiver.outputBacklog());
    }
    EXPECT_LE(most, VirtualReceiver::kOutputCapacity);
    return most;
}

// A host writing far faster than the line fills the receiver's input buffer and no more, and the
// replies that back up fill its output buffer and no more. What it still had to say to a host
// that went is dropped: the next host hears nothing it did not ask for.
TEST(VirtualReceiverTest, AFloodLeavesTheBuffersBoundedAndGoesWithTheHost) {
    Bench bench;
    for (int i = 0; i < 1000; ++i) {
        bench.send(kPortQuery);
    }
    EXPECT_GT(largestOutputBacklog(bench.receiver,
                                   [&](std::size_t) { return bench.receiver.inputBacklog() > 0; }),
              VirtualReceiver::kOutputCapacity / 2);
    bench.port.reset();
    EXPECT_EQ(bench.receiver.outputBacklog(), 0u);
    bench.port = SimulatedPort::open(bench.receiver);
    EXPECT_EQ(readBytes(*bench.port, 1, 200ms), Bytes{});
}

// At 1200 bits/s a second of every sentence does not fit in a second: the output queues behind
// what is still leaving, up to the output buffer.
TEST(VirtualReceiverTest, OnASlowLineTheSentencesBackUpWithinTheOutputBuffer) {
    Bench bench({{1200, None, One}, OutputProtocol::Nmea, 0x13F}, {});
    const auto half = VirtualReceiver::kOutputCapacity / 2;
    EXPECT_GE(largestOutputBacklog(bench.receiver, [&](std::size_t most) { return most < half; }),
              half);
}

float singleAt(const Bytes& data, std::size_t at) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(
        data.at(at) << 24 | data.at(at + 1) << 16 | data.at(at + 2) << 8 | data.at(at + 3)));
}

// All of one fix, in this order: GPS time, the place in radians (south and west negative),
// standing still, 3D with the satellites of the signal levels, healthy.
TEST(VirtualReceiverTest, InTsipModeItReportsTheFixInSixReports) {
    const FixTime before = fixTimeAt(system_clock::now());
    Bench bench({}, {.place = {-33.4489, -70.6693, 520.0}});
    const std::vector<Frame> set = framesUntil(*bench.port, 0x46);
    const FixTime after = fixTimeAt(system_clock::now());
    ASSERT_EQ(
        idsAndLengths(set),
        (IdsAndLengths{{0x41, 10}, {0x4A, 20}, {0x56, 20}, {0x6D, 24}, {0x47, 36}, {0x46, 2}}));
    const Bytes &time = set[0].second, &position = set[1].second, &velocity = set[2].second;
    const Bytes &mode = set[3].second, &levels = set[4].second;
    const float timeOfWeek = singleAt(time, 0);
    const std::pair fixTime{static_cast<std::uint32_t>(time[4] << 8 | time[5]), timeOfWeek};
    EXPECT_LE(std::pair(before.gpsWeek, static_cast<float>(before.timeOfWeek)), fixTime);
    EXPECT_LE(fixTime, std::pair(after.gpsWeek, static_cast<float>(after.timeOfWeek)));
    EXPECT_EQ(singleAt(time, 6), 18.0f);
    EXPECT_NEAR(singleAt(position, 0), -33.4489 * std::numbers::pi / 180, 1e-6);
    EXPECT_NEAR(singleAt(position, 4), -70.6693 * std::numbers::pi / 180, 1e-6);
    EXPECT_NEAR(singleAt(position, 8), 520.0, 0.5);
    EXPECT_EQ(singleAt(position, 16), timeOfWeek);
    EXPECT_EQ(Bytes(velocity.begin(), velocity.begin() + 16), Bytes(16, 0)) << "still";
    EXPECT_EQ(singleAt(velocity, 16), timeOfWeek);
    EXPECT_EQ(mode[0], 0x74) << "3D, seven satellites";
    for (std::size_t i = 0; i < levels[0]; ++i) {
        EXPECT_EQ(mode.at(17 + i), levels.at(1 + 5 * i));
        EXPECT_GT(singleAt(levels, 2 + 5 * i), 0.0f);
    }
    EXPECT_EQ(set[5].second, (Bytes{0x00, 0x00}));
}

// A fix is stamped with its whole second; GPS time is UTC plus 18 leap seconds, counted in weeks
// since 6 January 1980.
TEST(ReceiverFixTest, GpsTimeIsUtcPlusTheLeapSecondsInWeeksSince1980) {
    const std::tuple<sys_seconds, std::uint32_t, std::uint32_t> cases[] = {
        {sys_days(year(1980) / January / 6), 0, 18},                             // the epoch
        {sys_days(year(2016) / December / 31) + 86399s, 1930, 17},               // the next week
        {sys_days(year(2026) / December / 7) + 5h + 51min + 42s, 2448, 107520},  // a Monday
        {sys_days(year(2026) / December / 12) + 86399s - 18s, 2448, 604799},     // end of a week
    };
    for (const auto& [utc, week, timeOfWeek] : cases) {
        EXPECT_EQ(fixTimeAt(utc + 999ms), (FixTime{utc, week, timeOfWeek}));
    }
}

// The sentences carry the host's date, not one that a host could take for a week rollover, and
// the place in degrees and minutes with its hemispheres.
TEST(ReceiverFixTest, SentencesCarryTheDateTimeAndPlaceOfTheFix) {
    const Fix fix{fixTimeAt(sys_days(year(2026) / December / 7) + 5h + 51min + 42s),
                  Place{-33.44890, -70.66930, 520.0}};
    const std::string sentences = nmeaSentences(kSentenceGga | kSentenceZda | kSentenceRmc, fix);
    for (const char* part : {"$GPGGA,055142.00,3326.93400,S,07040.15800,W,1,07,1.0,520.0,M,",
                             "$GPZDA,055142.00,07,12,2026,", ",071226,"}) {
        EXPECT_NE(sentences.find(part), std::string::npos) << part << " in " << sentences;
    }
}

// SIM and digits, in any case and with an optional ':', name a virtual receiver; SIM1 to SIM6
// have one each, and each takes one port at a time and keeps its state when the port closes.
TEST(SimulatedDevicesTest, NamesSimFollowedByDigitsOneDeviceEach) {
    const std::tuple<const char*, bool, int> cases[] = {
        {"SIM1", true, 1},     {"sim2:", true, 2},          {"Sim5", true, 5},
        {"SIM7", true, 0},     {"SIM0", true, 0},           {"SIM", false, 0},
        {"SIM:", false, 0},    {"COM1:", false, 0},         {"SIMA", false, 0},
        {"SIM1::", false, 0},  {"XSIM1", false, 0},         {"", false, 0},
        {"SIM0001", false, 0}, {"sim000000005:", false, 0}, {"SIM01:", false, 0},
    };
    SimulatedDevices devices(kFactor);
    for (const auto& [name, simulated, preset] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(SimulatedDevices::isSimulatedName(name), simulated);
        EXPECT_EQ(SimulatedDevices::presetNumber(name), preset);
        EXPECT_EQ(devices.open(name).error,
                  preset != 0 ? OpenError::None : OpenError::NoSuchDevice);
    }
    std::unique_ptr<SerialPort> first = devices.open("SIM1").port;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(devices.open("sim1:").error, OpenError::Busy);
    EXPECT_NE(devices.open("SIM3").port, nullptr) << "other devices are free";
    // 4800 bits/s both ways, 8N1, TSIP in and out.
    ASSERT_TRUE(first->write(frames({{0xBC, 0x00, 0x06, 0x06, 0x03, 0, 0, 0, 0x02, 0x02, 0}})));
    first.reset();
    EXPECT_EQ(devices.receiver(1)->settings().line, (LineSettings{4800, None, One}));
    EXPECT_NE(devices.open("SIM1").port, nullptr) << "free again";
    EXPECT_EQ(devices.receiver(7), nullptr);
}

// Through a pseudo-terminal, with the program's own serial port as the host: the receiver takes
// a query only at its own baud rate and parity (stop bits do not matter: a UART hears a byte with
// one stop bit where it expects two), ignores what its UART makes of it at other settings, and
// lets go of the host when the server stops. Even parity cannot be carried by a pseudo-terminal.
// A reply to a garbled query would reach the host garbled, so no byte at all shows none was sent.
TEST(PtyReceiverTest, AnswersAQueryOnlyAtItsOwnBaudAndParity) {
    const std::tuple<const char*, LineSettings, LineSettings, bool> cases[] = {
        {"stop bits differ", kFactoryLine, {9600, None, Two}, true},
        {"odd parity", kFactoryLine, {9600, Odd, One}, false},
        {"slower", kFactoryLine, {4800, None, One}, false},
        {"faster", kFactoryLine, {38400, None, One}, false},
        {"slowest", kFactoryLine, {1200, None, One}, false},
        {"odd receiver", {38400, Odd, One}, {38400, Odd, One}, true},
        {"odd receiver, no parity", {38400, Odd, One}, {38400, None, One}, false},
    };
    for (const auto& [name, own, host, answers] : cases) {
        SCOPED_TRACE(name);
        VirtualReceiver receiver({.line = own}, kAsked, kFactor);
        const auto server = PtyReceiver::start(receiver);
        ASSERT_NE(server, nullptr);
        EXPECT_EQ("PTS" + server->slavePath().substr(9), server->portName());  // /dev/pts/N
        std::unique_ptr<SerialPort> port = openSerialDevice(server->slavePath()).port;
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(port->setReadCeiling(10ms));
        ASSERT_TRUE(port->setLineSettings(host));
        ASSERT_TRUE(port->write(kPortQuery));
        // A port report is 14 bytes: DLE, 0xBC, ten bytes of data, DLE ETX.
        EXPECT_EQ(readBytes(*port, 14, answers ? kGenerous : 200ms).size(), answers ? 14u : 0u);
        port.reset();
        server->stop();
        EXPECT_FALSE(receiver.hostAttached());
    }
}

}  // namespace
}  // namespace kestrune::test
