// The line as a UART samples it: waveforms worked out by hand, equal settings, what the host's
// terminal makes of errors, and the bit statistics of garbled text against a hardware figure.
#include "sim/uart_line.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <tuple>
#include <vector>

#include "sim/line_transmitter.h"
#include "sim/nmea_output.h"
#include "sim/receiver_state.h"
#include "sim/virtual_receiver.h"

namespace kestrune::test {
namespace {

using enum Parity;
using enum StopBits;
using Bytes = std::vector<std::uint8_t>;
constexpr SimTime kStart = SimTime{} + std::chrono::seconds(1);
const SimClock kRealTime;

// A byte as heard, its flags, and where its start edge lies in bits of the sender.
enum Flags : unsigned { kClean = 0, kParity = 1, kFraming = 2, kBreak = 4 };
struct Heard {
    std::uint8_t byte;
    unsigned flags;
    double edgeInSenderBits;
};

// Sends bytes back to back from kStart, takes each character off the line once it is complete,
// and checks them against what should be heard.
// With model, one idle bit follows each character, so that a slow sender's clock cannot make them
// overlap.
void expectHeard(const Bytes& bytes, const LineSettings& tx, const LineSettings& rx,
                 const std::vector<Heard>& heard, const UartModel& model = {}) {
    UartLine line(kRealTime, model);
    std::vector<UartChar> got, want;
    const double spacing = bitsPerByte(tx) + (model == UartModel{} ? 0.0 : 1.0);
    const auto at = [&](double bits) { return kStart + kRealTime.bitsTime(bits, tx.baud); };
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        const SimTime start = i < bytes.size() ? at(spacing * i) : SimTime::max();
        for (auto c = line.receive(start, rx); c; c = line.receive(start, rx)) {
            got.push_back(*c);
        }
        if (i < bytes.size()) {
            line.send(bytes[i], start, tx);
        }
    }
    for (const Heard& h : heard) {
        want.push_back({h.byte, (h.flags & kParity) != 0, (h.flags & kFraming) != 0,
                        (h.flags & kBreak) != 0,
                        at(h.edgeInSenderBits) + kRealTime.bitsTime(bitsPerByte(rx), rx.baud)});
    }
    EXPECT_EQ(got, want) << tx.baud << " heard at " << rx.baud;
}

// 0x55 at 9600 is, in bits of 38400 (four to a sent bit): start 0-3 low, then 4-7 high, 8-11
// low and so on, the stop bit 36-39 high, idle after. A start at 0 samples data at 1.5 to 8.5:
// low, low, low, high x4, low = 0x78, and the stop at 9.5 low: a framing error. The next falling
// edge is at 16 (the third data bit, low), read as 0x78 again; then at 32, where 33.5-35.5 are
// low, 36.5-40.5 high (stop, then idle) = 0xF8 with a good stop bit at 41.5.
// 0xF0 at 4800 is, in bits of 9600 (two to a sent bit): low 0-9 (start and four zero bits),
// high from 10. Every data sample and the stop at 9.5 are low: a break, and nothing after.
// Where a 16550-style UART takes the low stop sample at 9.5 as the next start bit, the character
// starts at 9: data at 10.5 to 17.5 = 0x3C, stop at 18.5 low; then from 18: 0x1E, stop at 27.5
// low; from 27: 0x0F, the stop at 36.5 high.
// 8O1 heard as 8N1 samples the parity bit as the stop bit: low (a framing error) for an odd
// count of ones. A second stop bit only lengthens the idle time.
TEST(UartLineTest, HandWorkedWaveformsAndEqualSettings) {
    const std::tuple<Bytes, LineSettings, LineSettings, std::vector<Heard>> cases[] = {
        {{0x55},
         {9600, None, One},
         {38400, None, One},
         {{0x78, kFraming, 0}, {0x78, kFraming, 4}, {0xF8, kClean, 8}}},
        {{0xF0}, {4800, None, One}, {9600, None, One}, {{0x00, kFraming | kBreak, 0}}},
        {{0x01, 0x03}, {9600, Odd, One}, {9600, None, One}, {{0x01, kFraming, 0}, {0x03, 0, 11}}},
        {{0x80, 0x00}, {9600, None, Two}, {9600, None, One}, {{0x80, 0, 0}, {0x00, 0, 11}}},
    };
    for (const auto& [bytes, tx, rx, heard] : cases) {
        expectHeard(bytes, tx, rx, heard);
    }
    expectHeard(
        {0x55}, {9600, None, One}, {38400, None, One},
        {{0x78, kFraming, 0}, {0x3C, kFraming, 2.25}, {0x1E, kFraming, 4.5}, {0x0F, kClean, 6.75}},
        {.resync = FramingResync::LowStopSample});
    // Behind a native USB port each character arrives whole once it has left, whatever either
    // end's settings, as when the receiver switches them while a character crosses.
    UartLine native(kRealTime, {.nativeUsb = true});
    const LineSettings tx{9600, None, One};
    const SimDuration character = kRealTime.bitsTime(bitsPerByte(tx), tx.baud);
    native.send(0x55, kStart, tx);
    native.send(0xF0, kStart + character, tx);
    const std::tuple<std::uint8_t, LineSettings, int> heard[] = {{0x55, tx, 1},
                                                                 {0xF0, {4800, Odd, Two}, 2}};
    for (const auto& [byte, rx, characters] : heard) {
        const SimTime due = kStart + character * characters;
        EXPECT_EQ(native.nextArrival(rx), due);
        EXPECT_EQ(native.receive(SimTime::max(), rx), (UartChar{.byte = byte, .at = due}));
    }
    EXPECT_EQ(native.receive(SimTime::max(), tx), std::nullopt);
    // Equal settings give exactly the bytes sent, each complete when its stop bits have passed,
    // whatever the hardware: a UART tolerates a sender's clock 2 % off.
    for (const UartChoice& choice : kUartChoices) {
        for (const BaudRate& rate : kBaudRates) {
            for (const auto& [parity, stop] : {std::pair{None, One}, {Odd, Two}, {Even, One}}) {
                const LineSettings line{rate.baud, parity, stop};
                const double spacing = bitsPerByte(line) + (choice.model == UartModel{} ? 0 : 1);
                Bytes all;
                std::vector<Heard> heard;
                for (unsigned byte = 0; byte < 256; ++byte) {
                    all.push_back(static_cast<std::uint8_t>(byte));
                    heard.push_back({all.back(), kClean, spacing * byte});
                }
                expectHeard(all, line, line, heard, choice.model);
            }
        }
    }
}

// Passed through, read as 0x00, dropped or marked, as the kernel does for INPCK, IGNPAR, PARMRK
// and IGNBRK: for a clean byte, a clean 0xFF, a parity error, a framing error and a break.
TEST(UartLineTest, TheHostsTerminalPassesDropsOrMarksErrors) {
    const InputErrorHandling handlings[] = {
        {}, {.check = true}, kPortInputHandling, {.check = true, .mark = true}};
    const std::pair<UartChar, std::array<Bytes, 4>> cases[] = {
        {{0x41}, {{{0x41}, {0x41}, {0x41}, {0x41}}}},
        {{0xFF}, {{{0xFF}, {0xFF}, {0xFF}, {0xFF, 0xFF}}}},
        {{0x41, true}, {{{0x41}, {0x00}, {}, {0xFF, 0x00, 0x41}}}},
        {{0x42, false, true}, {{{0x42}, {0x00}, {}, {0xFF, 0x00, 0x42}}}},
        {{0x00, false, true, true}, {{{0x00}, {0x00}, {}, {0xFF, 0x00, 0x00}}}},
    };
    for (const auto& [got, expected] : cases) {
        for (std::size_t i = 0; i < expected.size(); ++i) {
            std::array<std::uint8_t, 3> out{};
            const std::size_t count = hostInput(got, handlings[i], out);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + count), expected[i]) << int{got.byte} << i;
        }
    }
}

struct Collect final : LineListener {
    void received(const UartChar& got) override { bytes.push_back(got.byte); }
    Bytes bytes;
};

// Real hardware, listening at 38400 to a receiver at 9600 sending NMEA text, read bytes whose
// bits (least significant first, as one stream) differ from their neighbour 14 to 20 % of the
// time. Here ten seconds of the factory sentences leave with the receiver's gaps, for a few seeds.
TEST(UartLineTest, GarbledTextHasTheBitStatisticsOfRealHardware) {
    const auto when = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7);
    const std::string text = nmeaSentences(kFactorySentences, fixAt(kDefaultPlace, 1, when));
    const LineSettings rx{38400, None, One};
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        LineTransmitter transmitter(kRealTime, 1u << 16, VirtualReceiver::kOutputGapBits, seed);
        Collect host;
        for (int second = 0; second < 10; ++second) {
            const SimTime at = kStart + std::chrono::seconds(second);
            transmitter.queue(Bytes(text.begin(), text.end()), at, {9600, None, One});
            transmitter.pump(at + std::chrono::milliseconds(999), &rx, host);
        }
        std::size_t changes = 0;
        for (std::size_t i = 0; i + 1 < host.bytes.size(); ++i) {
            const unsigned pair = host.bytes[i] | (host.bytes[i + 1] << 8);
            changes += std::popcount((pair ^ (pair >> 1)) & 0xFFu);
        }
        const double fraction = static_cast<double>(changes) / (8.0 * (host.bytes.size() - 1));
        EXPECT_GE(fraction, 0.14) << seed;
        EXPECT_LE(fraction, 0.20) << seed;
    }
}

}  // namespace
}  // namespace kestrune::test
