#include "tools/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::test {
namespace {

// The command line kestrune-sim OPTION VALUE.
CommandLine parse(const char* option, const char* value) {
    const std::vector<const char*> argv{"kestrune-sim", option, value};
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The speed is a finite factor from a thousandth to a thousand; the position a place on the
// globe; the identity a printable name of up to 40 characters, a version and a serial number;
// numbers are decimal or hex, never octal.
TEST(SimOptionsTest, ValuesAreCheckedAndTakenAsWritten) {
    const std::pair<const char*, std::vector<const char*>> refused[] = {
        {"--speed", {"0", "0.0009", "1000.1", "-1", "1e300", "inf", "nan", "2x"}},
        {"--position", {"91,0,0", "0,-181,0", "1,2", "1,2,3,4", "1,,3", "a,b,c"}},
        {"--identity",
         {"", ",1.2", "A", "A,1", "A,256.0", "A,1.2.3", "A,1.2,x", "A,1.2,3,4", "A\tB,1.2",
          "None"}},
        {"--save-answer", {"", "0x13", "Report", "saved"}},
        {"--uart", {"", "16551", "CDC-ACM"}},
    };
    for (const auto& [option, values] : refused) {
        for (const char* value : values) {
            const CommandLine line = parse(option, value);
            EXPECT_TRUE(!line.options.has_value() && line.exitStatus == kExitUsage) << value;
        }
    }
    for (const char* speed : {"0.001", "0.05", "1000", "1e3"}) {
        const CommandLine line = parse("--speed", speed);
        EXPECT_EQ(line.exitStatus, 0) << speed;
        EXPECT_EQ(line.options.value().speed, std::stod(speed));
    }
    EXPECT_EQ(parse("--position", "-33.4489,-70.6693,520").options.value().behaviour.place,
              (Place{-33.4489, -70.6693, 520.0}));
    EXPECT_EQ(parse("--identity", "Example Receiver,2.14,4711").options.value().behaviour.identity,
              (IdentityProfile{true, "Example Receiver", 2, 14, 4711}));
    EXPECT_FALSE(parse("--identity", "none").options.value().behaviour.identity.answers);
    EXPECT_FALSE(parse("--identity", std::string(41, 'x').append(",1.2").c_str()).options);
    for (const auto& [word, answer] :
         {std::pair{"report", SaveAnswer::Report}, std::pair{"restart", SaveAnswer::Restart},
          std::pair{"refuse", SaveAnswer::Refuse}}) {
        EXPECT_EQ(parse("--save-answer", word).options.value().behaviour.saveAnswer, answer);
    }
    for (const UartChoice& choice : kUartChoices) {
        EXPECT_EQ(parse("--uart", std::string(choice.name).c_str()).options.value().behaviour.uart,
                  choice.model);
    }
    EXPECT_EQ(parse("--baud", "0x12C0").options.value().settings.line.baud, 4800u);
    EXPECT_EQ(parse("--mask", "010").options.value().settings.sentenceMask, 10u) << "not octal";
}

}  // namespace
}  // namespace kestrune::test
