#include "sim/tsip_parser.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Parsed {
    std::uint8_t id;
    Bytes data;
    bool wellFramed;
    bool operator==(const Parsed&) const = default;
};

std::vector<Parsed> parse(TsipParser& parser, const Bytes& bytes) {
    std::vector<Parsed> packets;
    for (const std::uint8_t byte : bytes) {
        if (const auto packet = parser.feed(byte)) {
            packets.push_back(
                {packet->id, Bytes(packet->data.begin(), packet->data.end()), packet->wellFramed});
        }
    }
    return packets;
}

std::vector<Parsed> parse(const Bytes& bytes) {
    TsipParser parser;
    return parse(parser, bytes);
}

struct ParserCase {
    const char* name;
    Bytes bytes;
    std::vector<Parsed> packets;
};

TEST(TsipParserTest, FramesPacketsItsOwnWay) {
    Bytes overlong{0x10, 0x8E};
    overlong.insert(overlong.end(), TsipParser::kMaxData + 1, 0x01);
    overlong.insert(overlong.end(), {0x10, 0x03});

    const ParserCase cases[] = {
        {"query", {0x10, 0xBC, 0x00, 0x10, 0x03}, {{0xBC, {0x00}, true}}},
        {"doubled DLE", {0x10, 0x7A, 0x10, 0x10, 0x10, 0x03}, {{0x7A, {0x10}, true}}},
        {"noise first", {0x41, 0xFF, 0x10, 0xBC, 0x10, 0x03}, {{0xBC, {}, true}}},
        {"no packet", {0x10, 0x03, 0x10, 0x00, 0x05, 0x10, 0x03}, {}},
        {"repeated start DLE", {0x10, 0x10, 0xBC, 0x10, 0x03}, {{0xBC, {}, true}}},
        {"broken then next",
         {0x10, 0xBC, 0x00, 0x10, 0x55, 0x01, 0x10, 0x03},
         {{0xBC, {0x00}, false}, {0x55, {0x01}, true}}},
        {"broken then empty",
         {0x10, 0xBC, 0x07, 0x10, 0x55, 0x10, 0x03},
         {{0xBC, {0x07}, false}, {0x55, {}, true}}},
        {"too long", overlong, {{0x8E, Bytes(TsipParser::kMaxData, 0x01), false}}},
    };
    for (const ParserCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(c.bytes), c.packets);
    }
}

TEST(TsipParserTest, ResetDropsAPartialPacket) {
    TsipParser parser;
    EXPECT_TRUE(parse(parser, {0x10, 0xBC, 0x00}).empty());
    parser.reset();
    EXPECT_TRUE(parse(parser, {0x00, 0x10, 0x03}).empty());
}

}  // namespace
}  // namespace kestrune::test
