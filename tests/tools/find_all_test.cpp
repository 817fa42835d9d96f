// find --all run as a process over a made-up device tree, under the device test bed's preload:
// virtual receivers behind mocked USB and CDC-ACM ports, through the real serial layer.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/support/served_receiver.h"
#include "tests/tools/program_run.h"

namespace kestrune::test {
namespace {

// The receivers and the program at their real timing: scaled down, the waits left too little
// room for a sanitized build on a busy machine, and receivers went unheard.
constexpr double kTimeScale = 1.0;

// Four receivers at four settings, a silent on-board UART, a legacy port with no UART and a
// port another process holds: each receiver is found once, the rest are said why not. show
// --all reports each receiver as show does: with its sentence selection and who it is.
class FindAll : public ::testing::TestWithParam<const char*> {};

TEST_P(FindAll, FindsEveryReceiverAtOnceAndSaysWhyTheOtherPortsGaveNone) {
    const std::string command = GetParam();
    MockPorts bed;
    if (!MockPorts::active()) {
        GTEST_SKIP() << "needs umockdev-wrapper";
    }
    const std::pair<const char*, ReceiverSettings> receivers[] = {
        {"ttyUSB0", {{9600, Parity::None, StopBits::One}}},
        {"ttyUSB1", {{4800, Parity::Odd, StopBits::One}}},
        {"ttyACM0", {{38400, Parity::None, StopBits::One}}},
        {"ttyACM1", {{19200, Parity::Odd, StopBits::One}}},
    };
    std::vector<ServedReceiver> served(4);
    for (int number = 0; number < 4; ++number) {
        const auto& [name, settings] = receivers[number];
        const bool acm = std::string(name).starts_with("ttyACM");
        ASSERT_TRUE(bed.addUsb({name, acm ? "cdc_acm" : "usbserial_generic", "USB Serial Adapter",
                                "EX" + std::to_string(number)},
                               acm ? kAcmMajor : kUsbSerialMajor, number % 2, number + 1));
        ASSERT_TRUE(served[number].serve(bed, name, settings, kTimeScale));
    }
    ASSERT_TRUE(bed.addUsb({"ttyUSB2", "usbserial_generic", "USB Serial Adapter", "EX9"},
                           kUsbSerialMajor, 2, 9));
    ASSERT_TRUE(bed.addUart(0, 4) && bed.addUart(1, 0));
    const Holder holder("/dev/ttyUSB2");
    ASSERT_TRUE(holder.seen("/dev/ttyUSB2"));
    const Outcome run = runProgram({"--json", command, "--all"});

    EXPECT_EQ(run.status, 0) << run.err;
    std::set<std::string> found;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json report = nlohmann::json::parse(line);
        found.insert(report["port"].get<std::string>() + " " +
                     std::to_string(report["baud"].get<int>()) + " " +
                     report["parity"].get<std::string>() + " " +
                     report["protocol"].get<std::string>());
        EXPECT_EQ(report["aliases"].size(), 2u);
        const bool shown = command == "show";
        EXPECT_EQ(report.contains("sentences") && report["sentences"].is_array(), shown) << line;
        EXPECT_EQ(report.contains("identity") && report["identity"].contains("software"), shown)
            << line;
    }
    EXPECT_EQ(found,
              (std::set<std::string>{"/dev/ttyACM0 38400 none tsip", "/dev/ttyACM1 19200 odd tsip",
                                     "/dev/ttyUSB0 9600 none tsip", "/dev/ttyUSB1 4800 odd tsip"}));
    EXPECT_NE(run.err.find("/dev/ttyS0: silent"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("/dev/ttyUSB2: skipped, held by"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("/dev/ttyS1"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(FindAndShow, FindAll, ::testing::Values("find", "show"));

}  // namespace
}  // namespace kestrune::test
