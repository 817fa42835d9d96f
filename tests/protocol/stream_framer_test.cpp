#include "protocol/stream_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> frame(const Bytes& input) {
    StreamFramer framer;
    std::vector<Bytes> messages;
    for (const std::uint8_t byte : input) {
        if (const auto message = framer.feed(byte)) {
            messages.emplace_back(message->begin(), message->end());
        }
    }
    return messages;
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
    {"ControlByteBelowSpaceDropsSentence", text("$A\x1F$B\r\n"), {text("$B")}},
    {"SpaceIsSentenceText", text("$ A\r\n"), {text("$ A")}},
    {"DleEtxInsideSentenceIsNoPacket", concat({text("$A"), {0x10, 0x03}, text("\r\n")}), {}},
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

}  // namespace
}  // namespace kestrune::test
