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
    const char* name;
    Args args;
    int status;
    std::string out;  // whole; JSON when it starts with '{', compared parsed
    std::string err;  // contained in stderr
};

TEST(KestrunectlTest, CommandsPrintWhatTheReceiverAnswersAndExitWithTheirStatus) {
    const CommandCase cases[] = {
        {"find", {"-p", "SIM1", "find"}, 0, "SIM1 9600 8N1 TSIP\n", ""},
        {"find json",
         {"-p", "sim2:", "--json", "find"},
         0,
         R"({"port":"sim2:","baud":4800,"parity":"none","stopBits":1,"protocol":"nmea"})",
         ""},
        {"show nmea",
         {"-p", "SIM2", "show"},
         0,
         "SIM2 4800 8N1 NMEA\nsentences: GGA,GLL,RMC\n",
         ""},
        {"show json",
         {"-p", "SIM3", "show", "--json"},
         0,
         R"({"port":"SIM3","baud":38400,"parity":"odd","stopBits":1,"protocol":"tsip",
             "sentences":["GGA","GSV","GSA","RMC"]})",
         ""},
        {"set all",
         {"-p", "SIM1", "set", "--baud", "19200", "--parity", "odd", "--stop-bits", "2", "--format",
          "nmea", "--sentences", "gga,RMC"},
         0,
         "SIM1 19200 8O2 NMEA\nsentences: GGA,RMC\n",
         ""},
        {"set keeps the rest",
         {"-p", "SIM3", "set", "--baud", "4800"},
         0,
         "SIM3 4800 8O1 TSIP\nsentences: GGA,GSV,GSA,RMC\n",
         ""},
        {"set even warns",
         {"-p", "SIM1", "--json", "set", "--parity", "even", "--sentences", "none"},
         0,
         R"({"port":"SIM1","baud":9600,"parity":"even","stopBits":1,"protocol":"tsip",
                "sentences":[]})",
         "never tries even parity"},
        {"reset",
         {"-p", "SIM3", "reset", "--json"},
         0,
         R"({"port":"SIM3","baud":9600,"parity":"none","stopBits":1,"protocol":"tsip"})",
         ""},
        {"silent", {"-p", "SIM4", "find"}, 1, "", "SIM4: no receiver answered (tried 38400"},
        {"reset silent", {"-p", "SIM4", "reset"}, 1, "", "did not answer at 9600 8N1"},
        {"rejects", {"-p", "SIM5", "set", "--baud", "4800"}, 1, "", "rejected the configuration"},
        {"no rate", {"-p", "SIM1", "set", "--baud", "300"}, 2, "", "--baud: 300 not in"},
        {"no sentence", {"-p", "SIM1", "set", "--sentences", "GGA,XYZ"}, 2, "", "XYZ not in"},
        {"half a line", {"-p", "SIM2", "watch", "--baud", "4800"}, 2, "", "requires --parity"},
        {"no command", {"-p", "SIM1"}, 2, "", "subcommand is required"},
        {"not a name", {"-p", "ttyUSB0", "find"}, 2, "", "'ttyUSB0' is not a port name"},
        {"outside /dev", {"-p", "/tmp/gps", "find"}, 2, "", "/tmp/gps is not under /dev"},
        {"not a terminal", {"-p", "/dev/null", "find"}, 3, "", "/dev/null: not a terminal"},
        {"no device", {"-p", "USB99", "find"}, 3, "", "/dev/ttyUSB99: no such device"},
        {"version", {"--version"}, 0, "kestrunectl " KESTRUNE_VERSION "\n", ""},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
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

struct PtyRig {
    VirtualReceiver receiver{ReceiverSettings{{4800, Parity::None, StopBits::One}}};
    std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
};

// At real timing the quick pass finds it; a link under /dev is followed to its device.
TEST(KestrunectlTest, FindsOverAPseudoTerminalByPathNameAndLink) {
    PtyRig rig;
    ASSERT_NE(rig.server, nullptr);
    const std::string link = "/dev/shm/kestrunectl-test-" + std::to_string(::getpid());
    std::filesystem::create_symlink(rig.server->slavePath(), link);
    std::vector<std::string> ports{rig.server->slavePath(), link};
    if (!rig.server->portName().empty()) {
        ports.push_back(rig.server->portName());
    }
    for (const std::string& port : ports) {
        const Outcome run = runProgram({"-p", port, "--json", "find"});
        const std::string shown = port == link ? link : rig.server->slavePath();
        EXPECT_EQ(Json::parse(run.out), Json::parse(R"({"port":")" + shown + R"(","baud":4800,
                  "parity":"none","stopBits":1,"protocol":"tsip"})"))
            << port;
    }
    std::filesystem::remove(link);
}

TEST(KestrunectlTest, UsageErrorsLeaveThePortUntouched) {
    PtyRig rig;
    ASSERT_NE(rig.server, nullptr);
    const Args cases[] = {{"set", "--baud", "300"},
                          {"set", "--parity", "mark"},
                          {"set", "--stop-bits", "3"},
                          {"set", "--format", "binary"},
                          {"watch", "--parity", "odd"}};
    for (const Args& args : cases) {
        Args withPort{"-p", rig.server->slavePath()};
        withPort.insert(withPort.end(), args.begin(), args.end());
        EXPECT_EQ(runProgram(withPort).status, 2) << args.back();
    }
    EXPECT_TRUE(rig.receiver.hostWrites().empty());
}

TEST(KestrunectlTest, BusyPortNamesTheProcessHoldingIt) {
    PtyRig rig;
    ASSERT_NE(rig.server, nullptr);
    std::array<int, 2> ready{};
    ASSERT_EQ(::pipe(ready.data()), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::prctl(PR_SET_NAME, "portholder");
        const int fd = ::open(rig.server->slavePath().c_str(), O_RDWR | O_NOCTTY);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        (void)!::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    bool held = false;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ASSERT_TRUE(held);
    const Outcome run = runProgram({"-p", rig.server->slavePath(), "find"});
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("port busy, held by portholder (pid " + std::to_string(holder) + ")"),
              std::string::npos)
        << run.err;
}

// At real timing, so that each stop lands in the step it names; the progress line tells when.
TEST(KestrunectlTest, InterruptEndsEachStepWithStatus130) {
    const std::pair<Args, const char*> cases[] = {
        {{"-p", "SIM4", "find"}, "find: quick pass"},
        {{"-p", "SIM4", "find"}, "find: full pass"},
        {{"-p", "SIM1", "set", "--baud", "4800", "--parity", "odd", "--stop-bits", "1", "--format",
          "tsip", "--sentences", "GGA"},
         "set: applying"},
    };
    for (const auto& [args, step] : cases) {
        const Outcome run = runProgram(args, step);
        EXPECT_EQ(run.status, 130) << step;
        EXPECT_EQ(run.out, "") << step;
        EXPECT_NE(run.err.find(step), std::string::npos) << run.err;
    }
}

// One JSON object per message when stdout is not a terminal, until Ctrl-C. The watch may start
// in the middle of a round, so it is stopped after the second.
TEST(KestrunectlTest, WatchWritesEachMessageAsJson) {
    const std::tuple<Args, const char*, std::set<std::string>> cases[] = {
        {{"-p", "SIM2", "watch"}, R"("sentence":"RMC")", {"GGA", "GLL", "RMC"}},
        {{"-p", "SIM2", "watch", "--baud", "4800", "--parity", "none"},
         R"("sentence":"RMC")",
         {"GGA", "GLL", "RMC"}},
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
