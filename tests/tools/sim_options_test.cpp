#include "tools/sim_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrune::test {
namespace {

// The command line kestrune-sim OPTION VALUE.
CommandLine parse(const char* option, const char* value) {
    const std::vector<const char*> argv{"kestrune-sim", option, value};
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

struct SpeedCase {
    const char* text;
    bool accepted;
};

TEST(SimOptionsTest, SpeedIsAFiniteFactorFromAThousandthToAThousand) {
    const SpeedCase cases[] = {
        {"0.001", true},  {"0.05", true},    {"1000", true},    {"1e3", true},
        {"0", false},     {"0.0009", false}, {"1000.1", false}, {"-1", false},
        {"1e300", false}, {"inf", false},    {"nan", false},    {"2x", false},
    };
    for (const SpeedCase& c : cases) {
        SCOPED_TRACE(c.text);
        const CommandLine line = parse("--speed", c.text);
        EXPECT_EQ(line.options.has_value(), c.accepted);
        EXPECT_EQ(line.exitStatus, c.accepted ? 0 : kExitUsage);
        if (c.accepted) {
            EXPECT_EQ(line.options->speed, std::stod(c.text));
        }
    }
}

TEST(SimOptionsTest, PositionIsAPlaceOnTheGlobeAndNumbersAreDecimalOrHex) {
    const CommandLine south = parse("--position", "-33.4489,-70.6693,520");
    ASSERT_TRUE(south.options.has_value());
    EXPECT_EQ(south.options->behaviour.place, (Place{-33.4489, -70.6693, 520.0}));
    for (const char* bad : {"91,0,0", "0,-181,0", "1,2", "1,2,3,4", "1,,3", "a,b,c"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(parse("--position", bad).exitStatus, kExitUsage);
    }
    EXPECT_EQ(parse("--baud", "0x12C0").options->settings.line.baud, 4800u);
    EXPECT_EQ(parse("--mask", "010").options->settings.sentenceMask, 10u) << "not octal";
}

}  // namespace
}  // namespace kestrune::test
