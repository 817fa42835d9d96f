#include "protocol/stream_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Between messages DLE 00 and DLE ETX open nothing, and DLE DLE waits on for the ID; inside a
// packet a lone DLE and a new ID drop what came before. A sentence is text from 0x20 up ended by
// CR LF; any other control byte drops it and is consumed, but a DLE opens a packet, as a receiver
// switched to TSIP may cut its sentence short. A message longer than an ID or '$' and 256 bytes
// is dropped, a doubled DLE counting once.
TEST(StreamFramer, YieldsExactlyTheExpectedMessages) {
    const Bytes full(256, 0x55);  // as much data as a packet can hold
    const std::tuple<const char*, Bytes, std::vector<Bytes>> cases[] = {
        {"PlainPacket", {0x10, 0x8F, 0x01, 0x02, 0x10, 0x03}, {{0x8F, 0x01, 0x02}}},
        {"DoubledDleIsOneDataByte", {0x10, 0x8F, 0x10, 0x10, 0x10, 0x03}, {{0x8F, 0x10}}},
        {"DleZeroOpensNothing", {0x10, 0x00, 0x05, 0x10, 0x03}, {}},
        {"DleEtxOpensNothing", {0x10, 0x03, 0x05, 0x10, 0x03}, {}},
        {"DleDleBeforeIdKeepsWaiting", {0x10, 0x10, 0x8F, 0x10, 0x03}, {{0x8F}}},
        {"LoneDleDropsPartial", {0x10, 0x8F, 0x01, 0x10, 0x47, 0x05, 0x10, 0x03}, {{0x47, 0x05}}},
        {"DleZeroInPacketIsAnId", {0x10, 0x8F, 0x01, 0x10, 0x00, 0x05, 0x10, 0x03}, {{0x00, 0x05}}},
        {"PacketWithDollarIdLooksLikeSentence", {0x10, 0x24, 0x41, 0x10, 0x03}, {text("$A")}},
        {"NoiseIsIgnored", {0x00, 0xFF, 0x80, 0x03, 0x10, 0x8F, 0x01, 0x10, 0x03}, {{0x8F, 0x01}}},
        {"Sentence", text("$GPGGA,1*5C\r\n"), {text("$GPGGA,1*5C")}},
        {"SentenceWithoutLfAfterCr", text("$GPGGA,1*5C\rX$B\r\n"), {text("$B")}},
        {"CrAfterCrDropsSentence", text("$A\r\r\n"), {}},
        {"LfWithoutCrDropsSentence", text("$GPG\n$B\r\n"), {text("$B")}},
        {"ControlByteBelowSpaceDropsSentence", text("$A\x1F$B\r\n"), {text("$B")}},
        {"SpaceIsSentenceText", text("$ A\r\n"), {text("$ A")}},
        {"HighBytesAreText", {'$', 0x80, 0xFF, 0xC3, '\r', '\n'}, {{'$', 0x80, 0xFF, 0xC3}}},
        {"DleInSentenceOpensAPacket",
         cat({text("$GPG"),
              {0x10, 0x8F, 0x01, 0x10, 0x03},
              text("$A\r"),
              {0x10, 0xBC, 0x10, 0x03}}),
         {{0x8F, 0x01}, {0xBC}}},
        {"PacketAndSentenceBackToBack",
         cat({{0x10, 0x8F, 0x10, 0x03}, text("$X\r\n"), {0x10, 0x13, 0x10, 0x03}}),
         {{0x8F}, text("$X"), {0x13}}},
        {"LongestPacketIsKept", cat({{0x10, 0x8F}, full, {0x10, 0x03}}), {cat({{0x8F}, full})}},
        // What follows a dropped packet is read from Idle: its DLE ETX opens nothing.
        {"OneByteMoreDropsThePacket",
         cat({{0x10, 0x8F}, full, {0x55, 0x10, 0x03, 0x10, 0x47, 0x10, 0x03}}),
         {{0x47}}},
        {"DoubledDlesCountOnce",
         cat({{0x10, 0x8F}, Bytes(512, 0x10), {0x10, 0x03}}),
         {cat({{0x8F}, Bytes(256, 0x10)})}},
        {"OverlongSentence", cat({text("$"), Bytes(300, 'A'), text("\r\n$OK\r\n")}), {text("$OK")}},
    };
    for (const auto& [name, input, expected] : cases) {
        SCOPED_TRACE(name);
        StreamFramer framer;
        std::vector<Bytes> messages;
        for (const std::uint8_t byte : input) {
            if (const auto message = framer.feed(byte)) {
                messages.emplace_back(message->begin(), message->end());
            }
        }
        EXPECT_EQ(messages, expected);
    }
}

}  // namespace
}  // namespace kestrune::test
