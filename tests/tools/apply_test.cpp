// kestrunectl apply run as a process over a made-up device tree, under the device test bed's
// preload: virtual receivers behind mocked USB and CDC-ACM ports, through the real serial layer,
// each matched by a table of a declared configuration.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/host_commands.h"
#include "tests/support/served_receiver.h"
#include "tests/tools/program_run.h"

namespace kestrune::test {
namespace {

constexpr double kTimeScale = 0.25;

class Apply : public ::testing::Test {
  protected:
    // A receiver at settings behind a mocked port, with USB serial number "EX" + number.
    void serve(const std::string& name, const ReceiverSettings& settings) {
        const int number = static_cast<int>(served_.size());
        const bool acm = name.starts_with("ttyACM");
        ASSERT_TRUE(bed_.addUsb({name, acm ? "cdc_acm" : "usbserial_generic", "USB Serial Adapter",
                                 "EX" + std::to_string(number)},
                                acm ? kAcmMajor : kUsbSerialMajor, number, number + 1));
        ASSERT_TRUE(served_[name].serve(bed_, name, settings, kTimeScale));
    }
    VirtualReceiver& receiver(const std::string& name) { return *served_.at(name).receiver; }
    void writeFile(const std::string& text) { std::ofstream(path_) << text; }
    Outcome apply(std::vector<std::string> args) {
        args.insert(args.begin(), {"--time-scale", std::to_string(kTimeScale), "--json", "apply",
                                   "--config", path_});
        return runProgram(args);
    }
    // Each port's JSON object, by device.
    static std::map<std::string, nlohmann::json> byDevice(const std::string& out) {
        std::map<std::string, nlohmann::json> results;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            results[nlohmann::json::parse(line)["device"]] = nlohmann::json::parse(line);
        }
        return results;
    }
    void SetUp() override {
        if (!MockPorts::active()) {
            GTEST_SKIP() << "needs umockdev-wrapper";
        }
    }
    void TearDown() override { std::filesystem::remove(path_); }

    MockPorts bed_;
    std::map<std::string, ServedReceiver> served_;
    const std::string path_ = std::filesystem::temp_directory_path() /
                              ("kestrune-apply-" + std::to_string(::getpid()) + ".toml");
};

const ReceiverSettings kFactory{};

// As gpsd leaves a receiver it switched: NMEA at 4800.
const ReceiverSettings kSwitched{
    {4800, Parity::None, StopBits::One}, OutputProtocol::Nmea, kSentenceGga | kSentenceRmc};
const ReceiverSettings kFast{
    {19200, Parity::None, StopBits::One}, OutputProtocol::Tsip, kFactorySentences};

constexpr const char* kDeclared = R"([receiver.same]
by-id = "/dev/serial/by-id/usb-Example_Devices_EX0-if00"
baud = 9600
format = "tsip"
sentences = ["GGA", "GSV", "GSA", "RMC"]

[receiver.switched]
usb-serial = "EX1"
baud = 9600
parity = "odd"
format = "tsip"
sentences = ["GGA", "ZDA"]

[default]
sentences = ["GGA", "RMC"]
)";

// A dry run, the run itself, and a second run: only what differs is sent, once. One device a run:
// the test bed's preload does not take opens from several threads at once reliably.
TEST_F(Apply, ChangesOnlyWhatDiffersAndOnlyOnce) {
    serve("ttyUSB0", kFactory);
    serve("ttyUSB1", kSwitched);
    serve("ttyACM2", kFast);
    writeFile(kDeclared);
    const ReceiverSettings declaredUsb1{
        {9600, Parity::Odd, StopBits::One}, OutputProtocol::Tsip, kSentenceGga | kSentenceZda};
    const ReceiverSettings declaredAcm2{kFast.line, OutputProtocol::Tsip,
                                        kSentenceGga | kSentenceRmc};
    struct Run {
        std::string device;
        bool dryRun;
        std::string result;
        ReceiverSettings after;
    };
    const Run runs[] = {
        {"ttyUSB1", true, "would change", kSwitched}, {"ttyACM2", true, "would change", kFast},
        {"ttyUSB0", false, "unchanged", kFactory},    {"ttyUSB1", false, "changed", declaredUsb1},
        {"ttyACM2", false, "changed", declaredAcm2},  {"ttyUSB1", false, "unchanged", declaredUsb1},
    };
    for (const Run& run : runs) {
        VirtualReceiver& one = receiver(run.device);
        one.clearHostWrites();
        const Outcome outcome =
            apply({"--device", "/dev/" + run.device, run.dryRun ? "--dry-run" : "--json"});
        ASSERT_EQ(outcome.status, 0) << run.device << "\n" << outcome.out << outcome.err;
        const auto results = byDevice(outcome.out);
        ASSERT_EQ(results.size(), 1u) << outcome.out;
        EXPECT_EQ(results.at("/dev/" + run.device)["result"], run.result) << outcome.out;
        EXPECT_EQ(configurationCommands(one) > 0, run.result == "changed") << run.device;
        EXPECT_EQ(one.settings(), run.after) << run.device << " " << run.result;
    }
}

// Each kind of bad file is refused whole, with its file and line, before any port is opened.
// Every listed port is checked even for one device, so --device stands for --all here.
TEST_F(Apply, RefusesABadFileWholeAndSendsNothing) {
    serve("ttyUSB0", kSwitched);
    struct Bad {
        std::string text;
        std::string where;  // after the file name
    };
    const Bad bads[] = {
        {"[receiver.a]\nusb-serial = \"EX0\"\nbaud = \n", ":3: "},
        {"[receiver.a]\nusb-serial = \"EX0\"\nspeed = 9600\n", ":3: unknown key speed"},
        {"[receiver.a]\nusb-serial = \"EX0\"\nbaud = 115200\n", ":3: baud 115200 is not a rate"},
        {"[receiver.a]\nbaud = 9600\n", ":1: [receiver.a] names no receiver"},
        {"[default]\nparity = \"even\"\n", ":2: parity \"even\" cannot be applied"},
        {"[receiver.a]\nusb-serial = \"EX0\"\n[receiver.b]\nusb-serial = \"EX0\"\n",
         ":3: [receiver.b] matches the same receiver as [receiver.a] on line 1"},
    };
    for (const Bad& bad : bads) {
        writeFile(bad.text);
        const Outcome outcome = apply({"--device", "/dev/ttyUSB0"});
        EXPECT_EQ(outcome.status, 2) << bad.text;
        EXPECT_NE(outcome.err.find(path_ + bad.where), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_TRUE(receiver("ttyUSB0").hostWrites().empty());
    EXPECT_EQ(receiver("ttyUSB0").settings(), kSwitched);
}

// A port another program holds is left alone: a failure for the table that names it, but not for
// the default table, which stands for whatever may be there.
TEST_F(Apply, LeavesAHeldPortAloneFailingOnlyATableThatNamesIt) {
    serve("ttyUSB0", kSwitched);
    const Holder holder("/dev/ttyUSB0");
    ASSERT_TRUE(holder.seen("/dev/ttyUSB0"));
    const std::pair<const char*, int> files[] = {
        {"[receiver.a]\nusb-serial = \"EX0\"\nbaud = 9600\n", 3},
        {"[default]\nbaud = 9600\n", 0},
    };
    for (const auto& [text, status] : files) {
        writeFile(text);
        const Outcome outcome = apply({"--device", "/dev/ttyUSB0"});
        EXPECT_EQ(outcome.status, status) << text << outcome.err;
        EXPECT_EQ(byDevice(outcome.out)["/dev/ttyUSB0"]["result"], "not opened") << outcome.out;
    }
    EXPECT_TRUE(receiver("ttyUSB0").hostWrites().empty());
}

}  // namespace
}  // namespace kestrune::test
