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

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream split(text);
    for (std::string part; std::getline(split, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return splitOn(text.str(), '\n');
}

// Every rule that starts the unit matches a serial port's kernel name and a serial bus or driver
// above it, inside the part of the file that only tty devices reach.
TEST(UdevRule, StartsTheUnitOnlyForSerialPorts) {
    const std::set<std::string> names{"ttyUSB", "ttyACM", "ttyS",  "ttyAMA",
                                      "ttymxc", "ttyO",   "ttyTHS"};
    const std::set<std::string> parents{"usb-serial", "cdc_acm", "platform", "pnp", "amba"};
    const std::regex key(R"re(([A-Z_]+(\{[a-z_]+\})?)(==|!=)"([^"]*)")re");
    bool ttyOnly = false;
    int starters = 0;
    for (const std::string& line : linesOf(KESTRUNE_UDEV_RULE)) {
        ttyOnly = ttyOnly || line.starts_with("SUBSYSTEM!=\"tty\", GOTO=");
        if (line.starts_with("#") || line.find("SYSTEMD_WANTS") == std::string::npos) {
            continue;
        }
        ++starters;
        std::set<std::string> kinds;
        for (std::sregex_iterator at(line.begin(), line.end(), key), end; at != end; ++at) {
            const std::string kind = std::string((*at)[1]) + std::string((*at)[3]);
            kinds.insert(kind);
            for (const std::string& word : splitOn((*at)[4], '|')) {
                const bool serial = kind == "KERNEL==" ? names.count(word.substr(0, word.find('[')))
                                    : kind == "SUBSYSTEMS==" || kind == "DRIVERS=="
                                        ? parents.count(word)
                                        : kind + word == "ATTR{type}!=0";
                EXPECT_TRUE(serial) << kind << word;
            }
        }
        EXPECT_TRUE(ttyOnly && kinds.count("KERNEL==") &&
                    (kinds.count("SUBSYSTEMS==") || kinds.count("DRIVERS==")))
            << line;
    }
    EXPECT_EQ(starters, 3);
}

TEST(ShippedExample, ActivatesNothingAsShippedAndReadsWholeOnceUncommented) {
    std::string problem;
    const std::optional<ReceiversFile> shipped = readReceiversFile(KESTRUNE_EXAMPLE, problem);
    ASSERT_TRUE(shipped) << problem;
    EXPECT_TRUE(shipped->receivers.empty());
    EXPECT_FALSE(shipped->fallback);

    const std::string path = std::filesystem::temp_directory_path() /
                             ("kestrune-example-" + std::to_string(::getpid()) + ".toml");
    std::stringstream text;
    text << std::ifstream(KESTRUNE_EXAMPLE).rdbuf();
    std::ofstream(path) << std::regex_replace(
        text.str(), std::regex(R"(^#(\[|[a-z-]+ = ))", std::regex::multiline), "$1");
    const std::optional<ReceiversFile> file = readReceiversFile(path, problem);
    std::filesystem::remove(path);
    ASSERT_TRUE(file) << problem;
    EXPECT_EQ(file->receivers.size(), 2u);
    EXPECT_TRUE(file->fallback);
}

}  // namespace
}  // namespace kestrune::ctl
