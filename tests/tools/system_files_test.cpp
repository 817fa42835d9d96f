// The files the package ships for applying at plug-in and boot: the udev rule hands only serial
// ports to the unit, and the commented example holds a valid configuration once uncommented.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    bool ttyOnly = false;
    int starters = 0;
    for (const std::string& line : linesOf(KESTRUNE_UDEV_RULE)) {
        ttyOnly = ttyOnly || line.starts_with("SUBSYSTEM!=\"tty\", GOTO=");
        if (line.starts_with("#") || line.find("SYSTEMD_WANTS") == std::string::npos) {
            continue;
        }
        ++starters;
        std::set<std::string> kinds;
        // Each key is KEY=="value" or KEY!="value"; assignments (TAG+=, ENV{...}+=) match nothing.
        for (std::string key : splitOn(line, ',')) {
            key.erase(0, key.find_first_not_of(' '));
            const std::size_t quote = key.find('"');
            const std::string name = key.substr(0, quote);
            if (quote == std::string::npos || !(name.ends_with("==") || name.ends_with("!="))) {
                continue;
            }
            const std::string value = key.substr(quote + 1, key.size() - quote - 2);
            kinds.insert(name);
            for (const std::string& word : splitOn(value, '|')) {
                const bool serial = name == "KERNEL==" ? names.count(word.substr(0, word.find('[')))
                                    : name == "SUBSYSTEMS==" || name == "DRIVERS=="
                                        ? parents.count(word)
                                        : name + word == "ATTR{type}!=0";
                EXPECT_TRUE(serial) << name << word;
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
    std::ofstream uncommented(path);
    for (const std::string& line : linesOf(KESTRUNE_EXAMPLE)) {
        // A commented table or key (#[receiver.roof], #baud = 38400) loses its '#'.
        const bool key = line.find(" = ") != std::string::npos &&
                         line.find_first_of(" #", 1) == line.find(" = ");
        uncommented << line.substr(line.starts_with("#[") || (line.starts_with("#") && key))
                    << "\n";
    }
    uncommented.close();
    const std::optional<ReceiversFile> file = readReceiversFile(path, problem);
    std::filesystem::remove(path);
    ASSERT_TRUE(file) << problem;
    EXPECT_EQ(file->receivers.size(), 2u);
    EXPECT_TRUE(file->fallback);
}

// A directory opens as a stream and would read as an empty file, applying nothing with success.
TEST(ReceiversFileTest, RefusesADirectory) {
    std::string problem;
    const std::string folder = std::filesystem::temp_directory_path();
    EXPECT_FALSE(readReceiversFile(folder, problem));
    EXPECT_EQ(problem, folder + ": not a file");
}

}  // namespace
}  // namespace kestrune::ctl
