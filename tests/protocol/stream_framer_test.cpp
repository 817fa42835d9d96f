#include "protocol/stream_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> frame(StreamFramer& framer, const Bytes& input) {
    std::vector<Bytes> messages;
    for (const std::uint8_t byte : input) {
        if (const auto message = framer.feed(byte)) {
            messages.emplace_back(message->begin(), message->end());
        }
    }
    return messages;
}

std::vector<Bytes> frame(const Bytes& input) {
    StreamFramer framer;
    return frame(framer, input);
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct FramingCase {
    const char* name;
    Bytes input;
    std::vector<Bytes> expected;
};

void PrintTo(const FramingCase& c, std::ostream* os) {
    *os << c.name;
}

class FramingTable : public testing::TestWithParam<FramingCase> {};

TEST_P(FramingTable, YieldsExactlyTheExpectedMessages) {
    EXPECT_EQ(frame(GetParam().input), GetParam().expected);
}

const FramingCase kFramingCases[] = {
    {"PlainPacket", {0x10, 0x8F, 0x01, 0x02, 0x10, 0x03}, {{0x8F, 0x01, 0x02}}},
    {"DoubledDleIsOneDataByte", {0x10, 0x8F, 0x10, 0x10, 0x10, 0x03}, {{0x8F, 0x10}}},
    {"DleDleEtxBetweenMessagesIsNothing", {0x10, 0x10, 0x03}, {}},
    {"DleZeroOpensNothing", {0x10, 0x00, 0x05, 0x10, 0x03}, {}},
    {"DleEtxOpensNothing", {0x10, 0x03, 0x05, 0x10, 0x03}, {}},
    {"LoneDleThenIdDropsPartial", {0x10, 0x8F, 0x01, 0x10, 0x47, 0x05, 0x10, 0x03}, {{0x47, 0x05}}},
    {"DleZeroInsidePacketStartsPacketZero",
     {0x10, 0x8F, 0x01, 0x10, 0x00, 0x05, 0x10, 0x03},
     {{0x00, 0x05}}},
    {"PacketWithDollarIdLooksLikeSentence", {0x10, 0x24, 0x41, 0x10, 0x03}, {text("$A")}},
    {"Sentence", text("$GPGGA,1*5C\r\n"), {text("$GPGGA,1*5C")}},
    {"SentenceWithoutLfAfterCr", text("$GPGGA,1*5C\rX$B\r\n"), {text("$B")}},
    {"SentenceBrokenByDleDoesNotOpenPacket",
     concat({text("$GPG"), {0x10, 0x8F, 0x01, 0x10, 0x03}}),
     {}},
    {"SentenceBrokenByLfWithoutCr", text("$GPG\n$B\r\n"), {text("$B")}},
    {"HighBytesAreSentenceText", {'$', 0x80, 0xFF, 0xC3, '\r', '\n'}, {{'$', 0x80, 0xFF, 0xC3}}},
    {"NoiseBeforeFrameIsIgnored",
     {0x00, 0xFF, 0x80, 0x03, 0x10, 0x8F, 0x01, 0x10, 0x03},
     {{0x8F, 0x01}}},
    {"DleDleBeforeIdKeepsWaiting", {0x10, 0x10, 0x10, 0x8F, 0x10, 0x03}, {{0x8F}}},
    {"PacketAndSentenceBackToBack",
     concat({{0x10, 0x8F, 0x10, 0x03}, text("$X\r\n"), {0x10, 0x13, 0x10, 0x03}}),
     {{0x8F}, text("$X"), {0x13}}},
    {"CrAfterCrDropsSentence", text("$A\r\r\n"), {}},
};

INSTANTIATE_TEST_SUITE_P(StreamFramer, FramingTable, testing::ValuesIn(kFramingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamFramer, LongestPacketIsReturnedAndOneMoreByteDiscardsIt) {
    Bytes data(256, 0x55);
    Bytes longest = concat({{0x10, 0x8F}, data, {0x10, 0x03}});
    const auto got = frame(longest);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), StreamFramer::kMaxMessage);

    data.push_back(0x55);
    // The bytes after the discarded packet are read from Idle: DLE ETX opens nothing, the
    // following packet is whole.
    const auto tooLong = concat({{0x10, 0x8F}, data, {0x10, 0x03, 0x10, 0x47, 0x10, 0x03}});
    EXPECT_EQ(frame(tooLong), (std::vector<Bytes>{{0x47}}));
}

TEST(StreamFramer, OverlongSentenceIsDiscardedAndFramingResumes) {
    const auto input = concat({text("$"), Bytes(300, 'A'), text("\r\n$OK\r\n")});
    EXPECT_EQ(frame(input), (std::vector<Bytes>{text("$OK")}));
}

TEST(StreamFramer, DoubledDlesCountOnceTowardsTheLimit) {
    Bytes input{0x10, 0x8F};
    for (int i = 0; i < 256; ++i) {
        input.insert(input.end(), {0x10, 0x10});
    }
    input.insert(input.end(), {0x10, 0x03});
    const auto got = frame(input);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], concat({{0x8F}, Bytes(256, 0x10)}));
}

// Every byte value in every state, against the state table.
TEST(StreamFramer, EveryByteInEveryStateMovesAsTheTableSays) {
    struct Prefix {
        FramerState state;
        Bytes bytes;
    };
    const Prefix prefixes[] = {
        {FramerState::Idle, {}},
        {FramerState::AfterStartDle, {0x10}},
        {FramerState::InPacket, {0x10, 0x8F}},
        {FramerState::AfterDataDle, {0x10, 0x8F, 0x10}},
        {FramerState::InSentence, {'$'}},
        {FramerState::AfterCr, {'$', '\r'}},
    };
    auto expectedNext = [](FramerState state, std::uint8_t b) {
        switch (state) {
            case FramerState::Idle:
                return b == 0x10 ? FramerState::AfterStartDle
                                 : (b == '$' ? FramerState::InSentence : FramerState::Idle);
            case FramerState::AfterStartDle:
                if (b == 0x00 || b == 0x03)
                    return FramerState::Idle;
                return b == 0x10 ? FramerState::AfterStartDle : FramerState::InPacket;
            case FramerState::InPacket:
                return b == 0x10 ? FramerState::AfterDataDle : FramerState::InPacket;
            case FramerState::AfterDataDle:
                return b == 0x03 ? FramerState::Idle : FramerState::InPacket;
            case FramerState::InSentence:
                if (b == '\r')
                    return FramerState::AfterCr;
                return b >= 0x20 ? FramerState::InSentence : FramerState::Idle;
            case FramerState::AfterCr:
                return FramerState::Idle;
        }
        return FramerState::Idle;
    };
    for (const Prefix& prefix : prefixes) {
        for (int value = 0; value < 256; ++value) {
            StreamFramer framer;
            ASSERT_TRUE(frame(framer, prefix.bytes).empty());
            ASSERT_EQ(framer.state(), prefix.state);
            const auto b = static_cast<std::uint8_t>(value);
            const bool completes = (prefix.state == FramerState::AfterDataDle && b == 0x03) ||
                                   (prefix.state == FramerState::AfterCr && b == '\n');
            EXPECT_EQ(framer.feed(b).has_value(), completes)
                << "state " << int(prefix.state) << " byte " << value;
            EXPECT_EQ(framer.state(), expectedNext(prefix.state, b))
                << "state " << int(prefix.state) << " byte " << value;
        }
    }
}

}  // namespace
}  // namespace kestrune
