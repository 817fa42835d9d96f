// kestrunectl run as a process: against the virtual receivers SIM1 to SIM5 with the hidden
// time scale, and over pseudo-terminals at real timing.
#include <sys/file.h>
#include <sys/prctl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tests/tools/program_run.h"

namespace kestrune::test {
namespace {

using Json = nlohmann::json;
using Args = std::vector<std::string>;

// Every delay of the link and of the virtual receivers, twenty times shorter.
Args scaled(Args args) {
    args.insert(args.begin(), {"--time-scale", "0.05"});
    return args;
}

struct CommandCase {
    int status;
    std::string out;  // whole; JSON when it starts with '{', compared parsed
    std::string err;  // contained in stderr
    Args args;
};

// The JSON object find and reset print, one stop bit; show and set add the sentences.
std::string report(const char* port, int baud, const char* parity, const char* protocol,
                   Json sentences = nullptr) {
    Json json{{"port", port}, {"baud", baud}, {"parity", parity}, {"stopBits", 1}};
    json["protocol"] = protocol;
    if (!sentences.is_null()) {
        json["sentences"] = sentences;
    }
    return json.dump();
}

TEST(KestrunectlTest, CommandsPrintWhatTheReceiverAnswersAndExitWithTheirStatus) {
    // clang-format off
    const CommandCase cases[] = {
        {0, "SIM1 9600 8N1 TSIP\n", "", {"-p", "SIM1", "find"}},
        {0, report("sim2:", 4800, "none", "nmea"), "", {"-p", "sim2:", "--json", "find"}},
        {0, "SIM2 4800 8N1 NMEA\nsentences: GGA,GLL,RMC\n", "", {"-p", "SIM2", "show"}},
        {0, report("SIM1", 9600, "none", "tsip", {"GGA", "GSV", "GSA", "RMC"}), "",
            {"-p", "SIM1", "show", "--json"}},
        {0, "SIM1 19200 8O2 NMEA\nsentences: GGA,RMC\n", "",
            {"-p", "SIM1", "set", "--baud", "19200", "--parity", "odd", "--stop-bits", "2",
             "--format", "nmea", "--sentences", "gga,RMC"}},
        {0, "SIM3 4800 8O1 TSIP\nsentences: GGA,GSV,GSA,RMC\n", "",
            {"-p", "SIM3", "set", "--baud", "4800"}},
        {0, report("SIM1", 9600, "even", "tsip", Json::array()), "never tries even parity",
            {"-p", "SIM1", "--json", "set", "--parity", "even", "--sentences", "none"}},
        {0, report("SIM3", 9600, "none", "tsip"), "", {"-p", "SIM3", "reset", "--json"}},
        {1, "", "SIM4: no receiver answered (tried 38400", {"-p", "SIM4", "find"}},
        {1, "", "did not answer at 9600 8N1", {"-p", "SIM4", "reset"}},
        {1, "", "rejected the configuration", {"-p", "SIM5", "set", "--baud", "4800"}},
        {2, "", "--baud: 300 not in", {"-p", "SIM1", "set", "--baud", "300"}},
        {2, "", "XYZ not in", {"-p", "SIM1", "set", "--sentences", "GGA,XYZ"}},
        {2, "", "requires --parity", {"-p", "SIM2", "watch", "--baud", "4800"}},
        {2, "", "subcommand is required", {"-p", "SIM1"}},
        {2, "", "'ttyUSB0' is not a port name", {"-p", "ttyUSB0", "find"}},
        {2, "", "/tmp/gps is not under /dev", {"-p", "/tmp/gps", "find"}},
        {3, "", "/dev/null: not a serial port", {"-p", "/dev/null", "find"}},
        {3, "", "/dev/ttyUSB99: no such device, it does not exist; kestrunectl ports",
            {"-p", "USB99", "find"}},
        {0, "kestrunectl " KESTRUNE_VERSION "\n", "", {"--version"}},
    };
    // clang-format on
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Outcome run = runProgram(scaled(c.args));
        EXPECT_EQ(run.status, c.status);
        if (c.out.starts_with('{')) {
            EXPECT_EQ(Json::parse(run.out), Json::parse(c.out));
        } else {
            EXPECT_EQ(run.out, c.out);
        }
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
}

// The file is read, never created: without it, or with a value the window would not have
// written, the default COM3: (/dev/ttyS2) is used.
TEST(KestrunectlTest, PortComesFromTheSettingsFile) {
    const std::pair<const char*, const char*> cases[] = {
        {"[General]\nPort=SIM2\n", "SIM2 4800 8N1 NMEA\n"},
        {"[General]\r\nPort = sim2:\r\n", "sim2: 4800 8N1 NMEA\n"},
        {"[General]\nPort=\"SIM2\"\n", ""},
        {"[Other]\nPort=SIM2\n", ""},
        {nullptr, ""},
    };
    for (const auto& [text, out] : cases) {
        SCOPED_TRACE(text ? text : "no file");
        const std::filesystem::path home = ::testing::TempDir() + "kestrunectl-config";
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home / "Quenterra");
        if (text != nullptr) {
            std::ofstream(home / "Quenterra/Kestrune.conf") << text;
        }
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        const Outcome run = runProgram(scaled({"find"}));
        ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(run.out, out);
        if (*out == '\0') {
            EXPECT_EQ(run.err.rfind("kestrunectl: /dev/ttyS2: ", 0), 0u) << run.err;
        }
        EXPECT_EQ(std::filesystem::exists(home / "Quenterra/Kestrune.conf"), text != nullptr);
    }
}

// Over a pseudo-terminal at real timing. Usage errors never touch the port; the quick pass
// finds the receiver by path, by name and through a link under /dev (followed to its device);
// a port another process holds is refused, naming the holder.
TEST(KestrunectlTest, PseudoTerminalPortFormsUsageErrorsAndBusyHolder) {
    VirtualReceiver receiver{ReceiverSettings{{4800, Parity::None, StopBits::One}}};
    const std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
    ASSERT_NE(server, nullptr);
    const std::string& path = server->slavePath();
    // clang-format off
    const Args usageErrors[] = {{"set", "--baud", "300"}, {"set", "--parity", "mark"},
        {"set", "--stop-bits", "3"}, {"set", "--format", "binary"}, {"watch", "--parity", "odd"}};
    // clang-format on
    for (Args args : usageErrors) {
        args.insert(args.begin(), {"-p", path});
        EXPECT_EQ(runProgram(args).status, 2) << args[3];
    }
    EXPECT_TRUE(receiver.hostWrites().empty());

    const std::string link = "/dev/shm/kestrunectl-test-" + std::to_string(::getpid());
    std::filesystem::create_symlink(path, link);
    for (const std::string& port : {path, link, server->portName()}) {
        if (!port.empty()) {
            const Outcome run = runProgram({"-p", port, "--json", "find"});
            const std::string shown = port == link ? link : path;
            EXPECT_EQ(Json::parse(run.out),
                      Json::parse(report(shown.c_str(), 4800, "none", "tsip")));
        }
    }
    std::filesystem::remove(link);

    // This process holds the port, under a name of its own.
    ::prctl(PR_SET_NAME, "portholder");
    const int held = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(held >= 0 && ::flock(held, LOCK_EX) == 0);
    const Outcome run = runProgram({"-p", path, "find"});
    ::close(held);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(
        run.err.find("port busy, held by portholder (pid " + std::to_string(::getpid()) + ")"),
        std::string::npos)
        << run.err;
}

// At real timing, so that each stop lands in the step it names; the progress line tells when.
TEST(KestrunectlTest, InterruptEndsEachStepWithStatus130) {
    const std::pair<Args, const char*> cases[] = {
        {{"-p", "SIM4", "find"}, "find: quick pass"},
        {{"-p", "SIM4", "find"}, "find: full pass"},
        {{"-p", "SIM1", "set", "--baud", "4800"}, "set: applying"},
    };
    for (const auto& [args, step] : cases) {
        const Outcome run = runProgram(args, step);
        EXPECT_EQ(run.status, 130) << step;
        EXPECT_EQ(run.out, "") << step;
        EXPECT_NE(run.err.find(step), std::string::npos) << run.err;
    }
    // With -q no progress line is drawn, even on a terminal.
    const Outcome quiet = runProgram(scaled({"-q", "-p", "SIM1", "find"}), "never shown");
    EXPECT_EQ(quiet.out + quiet.err, "SIM1 9600 8N1 TSIP\n");
}

// One JSON object per message when stdout is not a terminal, until Ctrl-C. The watch may start
// in the middle of a round, so it is stopped after the second.
TEST(KestrunectlTest, WatchWritesEachMessageAsJson) {
    const std::set<std::string> nmea{"GGA", "GLL", "RMC"};
    const std::tuple<Args, const char*, std::set<std::string>> cases[] = {
        {{"-p", "SIM2", "watch"}, R"("RMC")", nmea},
        {{"-p", "SIM2", "watch", "--baud", "4800", "--parity", "none"}, R"("RMC")", nmea},
        {{"-p", "SIM1", "watch"}, R"("levels")", {"levels"}},
    };
    for (const auto& [args, until, expected] : cases) {
        const Outcome run = runProgram(scaled(args), until, 2);
        EXPECT_EQ(run.status, 130);
        std::set<std::string> seen;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const Json message = Json::parse(line);
            if (message.contains("sentence") && message["checksum"] == true) {
                seen.insert(message["sentence"].get<std::string>());
            } else if (message["id"] == 0x47 &&
                       message["levels"][0] == Json{{"prn", 3}, {"level", 50}}) {
                seen.insert("levels");
            }
        }
        EXPECT_EQ(seen, expected) << run.out;
    }
}

}  // namespace
}  // namespace kestrune::test
