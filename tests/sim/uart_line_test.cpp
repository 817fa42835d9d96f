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

// Byte and flags (p: parity error, f: framing error, b: break), and where the character's start
// edge lies, in bits of the sender.
struct Heard {
    std::uint8_t byte;
    const char* flags;
    double edgeInSenderBits;
};

// Sends bytes back to back from kStart and returns all the receiver makes of them, taking each
// character off the line as soon as it is complete.
std::vector<UartChar> across(const Bytes& bytes, const LineSettings& tx, const LineSettings& rx) {
    UartLine line(kRealTime);
    std::vector<UartChar> got;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        const SimTime at = i < bytes.size()
                               ? kStart + line.bitsTime(bitsPerByte(tx) * i * 1.0, tx.baud)
                               : SimTime::max();
        while (const auto c = line.receive(at, rx)) {
            got.push_back(*c);
        }
        if (i < bytes.size()) {
            line.send(bytes[i], at, tx);
        }
    }
    return got;
}

UartChar expected(const Heard& heard, const UartLine& timing, const LineSettings& tx,
                  const LineSettings& rx) {
    const std::string flags = heard.flags;
    return UartChar{heard.byte, flags.find('p') != std::string::npos,
                    flags.find('f') != std::string::npos, flags.find('b') != std::string::npos,
                    kStart + timing.bitsTime(heard.edgeInSenderBits, tx.baud) +
                        timing.bitsTime(bitsPerByte(rx), rx.baud)};
}

// 0x55 at 9600 is, in bits of 38400 (four to a sent bit): start 0-3 low, then 4-7 high, 8-11
// low and so on, the stop bit 36-39 high, idle after. A start at 0 samples data at 1.5 to 8.5:
// low, low, low, high x4, low = 0x78, and the stop at 9.5 low: a framing error. The next falling
// edge is at 16 (the third data bit, low), read as 0x78 again; then at 32, where 33.5-35.5 are
// low, 36.5-40.5 high (stop, then idle) = 0xF8 with a good stop bit at 41.5.
// 0xF0 at 4800 is, in bits of 9600 (two to a sent bit): low 0-9 (start and four zero bits),
// high from 10. Every data sample and the stop at 9.5 are low: a break, and nothing after.
// 8O1 heard as 8N1 samples the parity bit as the stop bit: low (a framing error) for an odd
// count of ones. A second stop bit only lengthens the idle time.
TEST(UartLineTest, HandWorkedWaveforms) {
    const std::tuple<Bytes, LineSettings, LineSettings, std::vector<Heard>> cases[] = {
        {{0x55},
         {9600, None, One},
         {38400, None, One},
         {{0x78, "f", 0}, {0x78, "f", 4}, {0xF8, "", 8}}},
        {{0xF0}, {4800, None, One}, {9600, None, One}, {{0x00, "fb", 0}}},
        {{0x01, 0x03}, {9600, Odd, One}, {9600, None, One}, {{0x01, "f", 0}, {0x03, "", 11}}},
        {{0x80, 0x00}, {9600, None, Two}, {9600, None, One}, {{0x80, "", 0}, {0x00, "", 11}}},
    };
    const UartLine timing{kRealTime};
    for (const auto& [bytes, tx, rx, heard] : cases) {
        std::vector<UartChar> want;
        for (const Heard& h : heard) {
            want.push_back(expected(h, timing, tx, rx));
        }
        EXPECT_EQ(across(bytes, tx, rx), want) << tx.baud << " to " << rx.baud;
    }
}

// Every byte, at every rate, parity and stop bits, each complete when its stop bits have passed.
TEST(UartLineTest, EqualSettingsGiveExactlyTheBytesSent) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    const UartLine timing{kRealTime};
    for (const BaudRate& rate : kBaudRates) {
        for (const Parity parity : {None, Odd, Even}) {
            for (const StopBits stop : {One, Two}) {
                const LineSettings line{rate.baud, parity, stop};
                std::vector<UartChar> want;
                for (const std::uint8_t byte : all) {
                    want.push_back(
                        expected({byte, "", bitsPerByte(line) * byte * 1.0}, timing, line, line));
                }
                EXPECT_EQ(across(all, line, line), want) << rate.baud;
            }
        }
    }
}

// Passed through, dropped or marked, as the kernel does for INPCK, IGNPAR, PARMRK and IGNBRK.
TEST(UartLineTest, TheHostsTerminalPassesDropsOrMarksErrors) {
    const UartChar clean{0x41}, ff{0xFF}, parity{0x41, true}, framing{0x42, false, true},
        brk{0x00, false, true, true};
    const InputErrorHandling pass{}, zero{.check = true}, drop = kPortInputHandling,
                                                          mark{.check = true, .mark = true};
    const std::tuple<UartChar, InputErrorHandling, Bytes> cases[] = {
        {clean, drop, {0x41}},
        {ff, mark, {0xFF, 0xFF}},
        {ff, drop, {0xFF}},
        {parity, pass, {0x41}},
        {parity, zero, {0x00}},
        {parity, drop, {}},
        {framing, pass, {0x42}},
        {framing, mark, {0xFF, 0x00, 0x42}},
        {brk, pass, {0x00}},
        {brk, drop, {}},
        {brk, mark, {0xFF, 0x00, 0x00}},
    };
    for (const auto& [got, handling, bytes] : cases) {
        std::array<std::uint8_t, 3> out{};
        const std::size_t count = hostInput(got, handling, out);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + count), bytes) << int{got.byte};
    }
}

struct Collect final : LineListener {
    void leaving(std::uint8_t, const LineSettings&, bool) override {}
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
