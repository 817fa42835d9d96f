// The files the package ships for applying at plug-in and boot: the udev rule hands only serial
// ports to the unit, and the commented example holds a valid configuration once uncommented.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tools/kestrunectl/receivers_file.h"

namespace kestrune::ctl {
namespace {

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> alternatives(const std::string& value) {
    std::vector<std::string> words;
    std::istringstream split(value);
    for (std::string word; std::getline(split, word, '|');) {
        words.push_back(word);
    }
    return words;
}

// Every rule that starts the unit matches a serial port's kernel name and a serial bus or driver
// above it, inside the part of the file that only tty devices reach.
TEST(UdevRule, StartsTheUnitOnlyForSerialPorts) {
    const std::set<std::string> serialNames{"ttyUSB", "ttyACM", "ttyS",  "ttyAMA",
                                            "ttymxc", "ttyO",   "ttyTHS"};
    const std::set<std::string> serialParents{"usb-serial", "cdc_acm", "platform", "pnp", "amba"};
    const std::regex key(R"re(([A-Z_]+(\{[a-z_]+\})?)(==|!=)"([^"]*)")re");
    bool ttyOnly = false;
    int starters = 0;
    for (const std::string& line : linesOf(KESTRUNE_UDEV_RULE)) {
        if (line.starts_with("#")) {
            continue;
        }
        ttyOnly = ttyOnly || line.starts_with("SUBSYSTEM!=\"tty\", GOTO=");
        if (line.find("SYSTEMD_WANTS") == std::string::npos) {
            continue;
        }
        ++starters;
        EXPECT_TRUE(ttyOnly) << line;
        bool named = false, parented = false;
        for (std::sregex_iterator at(line.begin(), line.end(), key), end; at != end; ++at) {
            const std::string name = (*at)[1], op = (*at)[3], value = (*at)[4];
            for (const std::string& word : alternatives(value)) {
                if (name == "KERNEL" && op == "==") {
                    named = true;
                    EXPECT_TRUE(serialNames.count(word.substr(0, word.find_first_of("[*"))))
                        << word;
                } else if ((name == "SUBSYSTEMS" || name == "DRIVERS") && op == "==") {
                    parented = true;
                    EXPECT_TRUE(serialParents.count(word)) << word;
                } else {
                    EXPECT_EQ(name + op + word, "ATTR{type}!=0") << line;
                }
            }
        }
        EXPECT_TRUE(named && parented) << line;
    }
    EXPECT_EQ(starters, 3);
}

TEST(ShippedExample, ActivatesNothingAsShippedAndReadsWholeOnceUncommented) {
    std::string problem;
    const std::optional<ReceiversFile> shipped = readReceiversFile(KESTRUNE_EXAMPLE, problem);
    ASSERT_TRUE(shipped) << problem;
    EXPECT_TRUE(shipped->receivers.empty());
    EXPECT_FALSE(shipped->fallback);

    const std::regex commentedSetting(R"(^#(\[|[a-z-]+ = ))");
    const std::string path = std::filesystem::temp_directory_path() /
                             ("kestrune-example-" + std::to_string(::getpid()) + ".toml");
    {
        std::ofstream uncommented(path);
        for (const std::string& line : linesOf(KESTRUNE_EXAMPLE)) {
            uncommented << (std::regex_search(line, commentedSetting) ? line.substr(1) : line)
                        << "\n";
        }
    }
    const std::optional<ReceiversFile> file = readReceiversFile(path, problem);
    std::filesystem::remove(path);
    ASSERT_TRUE(file) << problem;
    ASSERT_EQ(file->receivers.size(), 2u);
    EXPECT_EQ(file->receivers[0].key, MatchKey::ById);
    EXPECT_EQ(file->receivers[0].wanted.baud, 38400u);
    EXPECT_TRUE(file->receivers[0].save);
    EXPECT_EQ(file->receivers[1].key, MatchKey::Device);
    EXPECT_EQ(file->receivers[1].wanted.sentences, kMaskGga | kMaskRmc);
    ASSERT_TRUE(file->fallback);
}

}  // namespace
}  // namespace kestrune::ctl
