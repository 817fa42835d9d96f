// What the reader's tally makes of hand-made byte sequences, as heard at some setting.
#include "link/heard_tally.h"

#include "protocol/stream_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kEpoch = 3;

Bytes repeated(const Bytes& pattern, std::size_t count) {
    Bytes bytes;
    while (bytes.size() < count) {
        bytes.push_back(pattern[bytes.size() % pattern.size()]);
    }
    return bytes;
}

Bytes text(std::string_view chars) {
    return Bytes(chars.begin(), chars.end());
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

// Random bytes, the same every run.
Bytes noise(std::size_t count) {
    std::minstd_rand draw;
    Bytes bytes(count);
    std::ranges::generate(bytes, [&draw] { return static_cast<std::uint8_t>(draw() >> 8); });
    return bytes;
}

HeardTally tallyOf(const Bytes& bytes, std::uint32_t messages, std::uint32_t badSentences,
                   std::optional<Parity> frame = Parity::None) {
    HeardCounters counters;
    for (const std::uint8_t byte : bytes) {
        if (counters.add(byte, kEpoch, frame)) {
            counters.addAddress(kEpoch);
        }
    }
    for (std::uint32_t i = 0; i < messages; ++i) {
        counters.addMessage(kEpoch);
    }
    for (std::uint32_t i = 0; i < badSentences; ++i) {
        counters.addBadSentence(kEpoch);
    }
    return counters.snapshot(kEpoch);
}

// Bit patterns, least significant first after the low start bit and before the high stop bit:
// 0x33 and 0xCC are runs of two (a sender two times slower), 0x0F, 0x87 and 0x1E runs of four,
// the first run and the last telling nothing; 0x80, 0xF8, 0xC0, 0xFF and 0x00 have no inner run
// at all. 0x15, 0x5A, 0x69 and 0x96 have runs of one, and all but 0x15 an even weight.
TEST(HeardTally, WhatWasHeardIsClassifiedWithoutTheUart) {
    const Bytes kReportBytes{0x3F, 0x66, 0x66, 0x3F, 0x80, 0,    0,    0x3F,
                             0xC0, 0,    0,    0x3F, 0x66, 0x66, 0x66, 0x03};
    const struct {
        const char* what;
        Bytes bytes;
        std::uint32_t messages;
        std::uint32_t badSentences;
        bool ended;
        HeardVerdict verdict;
        std::optional<Parity> frame = Parity::None;
    } cases[] = {
        // clang-format off
        {"too few yet", text("$GPGGA"), 0, 0, false, {}},
        {"a few, visit over", text("$GP"), 0, 0, true, {Heard::Text}},
        {"a framed message", {0x10, 0x8F, 0x10, 0x03}, 1, 0, false, {Heard::Framed}},
        {"sentence text",
         text("$GPRMC,123519,A,4807.038,N,01131.000,E"), 0, 0, false, {Heard::Text}},
        {"text of even weight only",
         text("$GPGGA$GPGGA$GPGGA"), 0, 0, false, {Heard::Text, 0, true}},
        // A sentence's tail may lean to one weight by chance, and while listening goes on it is
        // weighed at every byte: there only fewer than one in eight tells the other parity, until
        // a whole window has no separator, which no tail is long enough for.
        {"text with two in twelve of odd weight, while listening",
         text("$GPGGA$GP*10"), 0, 0, false, {Heard::Text}},
        {"text with two in twelve of odd weight, visit over",
         text("$GPGGA$GP*10"), 0, 0, true, {Heard::Text, 0, true}},
        {"a whole window without a separator, three in sixteen of odd weight",
         text("$GPGGA$GPGGA*1E0"), 0, 0, false, {Heard::Text, 0, true}},
        // The other parity never keeps a separator: a receiver without a fix, its fields zeros.
        {"zeros between separators", text("$GPGGA,000000.00,0000.0000,N,00"), 0, 0, true,
         {Heard::Text}},
        {"no separator for longer than a sentence goes without",
         text("$GPGGA123519.004807.0381N0113"), 0, 0, false, {Heard::Text, 0, true}},
        {"a long stream of text",
         repeated(text("$GPRMC,1,A"), 170), 0, 0, false, {Heard::Text, 0, true}},
        {"a sentence that fails its checksum, in whole characters",
         text("$GPRMC,123519,A,4807.038,N*00\r\n"), 0, 1, false, {Heard::Foreign}},
        {"framed packets beside such sentences",
         text("$GPRMC,123519,A,4807.038,N*00\r\n"), 2, 1, false, {Heard::Foreign}},
        {"a failed sentence of even weight only: the other parity garbled it",
         text("$GPGGA$GPGGA$GPGGA"), 0, 1, false, {Heard::Text, 0, true}},
        {"binary of one weight: a receiver's reports are not random enough to tell the parity",
         repeated({0x5A, 0x69, 0x96}, 36), 0, 0, false, {}},
        {"two times slower", repeated({0x33, 0xCC}, 12), 0, 0, false, {Heard::Slower, 2}},
        {"two times slower, told early",
         repeated({0x33, 0xCC}, 6), 0, 0, false, {Heard::Slower, 2}},
        {"runs of two and of four: two times slower",
         repeated({0x0F, 0x0F, 0x0F, 0x0F, 0x33}, 15), 0, 0, false, {Heard::Slower, 2}},
        {"two times slower, with the parity bit", repeated({0x33, 0xCC}, 12), 0, 0, false,
         {Heard::Slower, 2}, Parity::Odd},
        {"a receiver's reports, runs of two up to a low last data bit, which the stop bit ends",
         kReportBytes, 0, 0, false, {}},
        {"the same where the frame is not known", kReportBytes, 0, 0, false, {Heard::Slower, 2},
         std::nullopt},
        {"four times slower", repeated({0x1E, 0x0F, 0x87}, 12), 0, 0, false, {Heard::Slower, 4}},
        {"four times slower, one byte in five bent past one sample",
         repeated({0x1E, 0x0F, 0x87, 0x1C, 0x38}, 15), 0, 0, false, {Heard::Slower, 4}},
        {"no inner run: slower, ratio unknown",
         repeated({0x80, 0xF8, 0xC0, 0xFF, 0x00}, 12), 0, 0, false, {Heard::Slower, 0}},
        {"low to the last data bit, a verdict's worth: eight times slower",
         repeated({0x80}, 12), 0, 0, false, {Heard::Slower, 8}},
        {"low to the last data bit, fewer", repeated({0x80}, 11), 0, 0, true, {Heard::Slower, 0}},
        {"low to the last data bit, then a low parity bit", repeated({0x80}, 12), 0, 0, false, {},
         Parity::Odd},
        {"no inner run but in one, of runs of two", joined({repeated({0x80, 0xF8}, 7), {0x33}}),
         0, 0, true, {Heard::Slower, 2}},
        {"no inner run but in one, of runs of four", joined({repeated({0x80, 0xF8}, 7), {0x0F}}),
         0, 0, true, {Heard::Slower, 0}},
        {"noise, not yet enough", noise(60), 0, 0, false, {}},
        {"noise", noise(70), 0, 0, false, {Heard::Faster}},
        {"a report's end among the noise: a whole report may follow",
         joined({noise(70), {kDle, kEtx}, noise(20)}), 0, 0, false, {}},
        {"a doubled DLE before ETX is data, not a report's end",
         joined({noise(70), {kDle, kDle, kEtx}}), 0, 0, false, {Heard::Faster}},
        {"runs of one of both weights, not yet enough",
         repeated({0x15, 0x5A}, 40), 0, 0, false, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classify(tallyOf(c.bytes, c.messages, c.badSentences, c.frame), c.ended),
                  c.verdict)
            << c.what;
    }
}

// Talk that may be asked in TSIP at once: text of both weights, enough of it and mostly text;
// or a whole address, which a port keeps only at the sender's parity. Neither beside a sentence
// that failed.
TEST(HeardTally, OwnTalkShowsByItsWeightsOrAWholeAddress) {
    const struct {
        const char* what;
        Bytes bytes;
        std::uint32_t badSentences;
        bool own;
        bool address;
    } cases[] = {
        // clang-format off
        {"sentence text", text("$GPRMC,123519,A,4807.038,N,01131.000,E"), 0, true, true},
        {"too little yet", text("$GPRMC,1,A,"), 0, false, true},
        {"text of even weight only", text("$GPGGA$GPGGA$GPGGA"), 0, false, false},
        {"three in sixteen of odd weight", text("$GPGGA$GPGGA*1E0"), 0, false, false},
        {"zeros between separators", text("$GPGGA,000000.00,0000.0000,N,00"), 0, true, true},
        {"a sentence failed", text("$GPRMC,123519,A,4807.038,N,01131.000,E"), 1, false, false},
        {"text among binary", joined({text("$GPRMC,123519,A,4807"), noise(6)}), 0, false, true},
        {"an address's separator lost", text("$GPGGA0230"), 0, false, false},
        {"four letters", text("$GPGG,1234"), 0, false, false},
        {"six letters", text("$GPGGAA,1234"), 0, false, false},
        {"lower case", text("$gpgga,1234"), 0, false, false},
        {"a letter broken", joined({text("$GP"), Bytes{0xC7}, text("GA,1234")}), 0, false, false},
        {"a start again inside", text("$GP$GPRMC,,,,,"), 0, false, true},
        {"too little after it", text("$GPGGA,1,A"), 0, false, false},
        {"out of step after it", joined({text("$GPGGA,"), Bytes{0xCE}, text("3s0")}), 0, false,
         false},
        // clang-format on
    };
    for (const auto& c : cases) {
        const HeardTally tally = tallyOf(c.bytes, 0, c.badSentences);
        EXPECT_EQ(readsAsOwnText(tally), c.own) << c.what;
        EXPECT_EQ(showsOwnAddress(tally), c.address) << c.what;
    }
}

// The reader alone writes: a new epoch starts the tally afresh, and a snapshot for another epoch
// than the tally's reads as nothing heard.
TEST(HeardTally, ANewEpochStartsAfresh) {
    HeardCounters counters;
    for (const std::uint8_t byte : text("$GPGGA,1")) {
        counters.add(byte, 1, Parity::None);
    }
    EXPECT_EQ(counters.snapshot(1).bytes, 8u);
    EXPECT_EQ(counters.snapshot(2), HeardTally{});
    counters.add(0x33, 2, Parity::None);
    EXPECT_EQ(counters.snapshot(2).bytes, 1u);
    EXPECT_EQ(counters.snapshot(2).withInnerRuns, 1u);
    EXPECT_EQ(counters.snapshot(1), HeardTally{});
}

}  // namespace
}  // namespace kestrune::test
