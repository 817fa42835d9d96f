// kestrunectl run as a process: against the virtual receivers SIM1 to SIM6 with the hidden
// time scale, and over pseudo-terminals at real timing.
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>

#include <gtest/gtest.h>

#include <termios.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "protocol/tsip_commands.h"
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

// The JSON object find and reset print, one stop bit; show and set add the sentences, and show
// who the receiver is.
std::string report(const char* port, int baud, const char* parity, const char* protocol,
                   Json sentences = nullptr, Json identity = nullptr, Json answersTsip = nullptr) {
    Json json{{"port", port}, {"baud", baud}, {"parity", parity}, {"stopBits", 1}};
    json["protocol"] = protocol;
    if (!answersTsip.is_null()) {
        json["answersTsip"] = answersTsip;
    }
    if (!sentences.is_null()) {
        json["sentences"] = sentences;
    }
    if (!identity.is_null()) {
        json["identity"] = identity;
    }
    return json.dump();
}

std::string withSave(const std::string& report, const char* outcome) {
    Json json = Json::parse(report);
    json["save"] = outcome;
    return json.dump();
}

// The virtual receivers' identity; SIM6 refuses the queries.
const std::string kName = "Kestrune Virtual Receiver", kDate = "2026-03-14";
const std::string kIdentityText = "product: " + kName + ", firmware 1.2 build 7 of " + kDate +
                                  "\nhardware: serial number 20260314, hardware code 1001, " +
                                  kName + "\nsoftware: version 1.2 of " + kDate +
                                  ", GPS core 3.1 of " + kDate + "\n";
const Json kIdentity{
    {"product", {{"name", kName}, {"firmware", "1.2"}, {"build", 7}, {"date", kDate}}},
    {"hardware", {{"serialNumber", 20260314}, {"hardwareCode", 1001}, {"name", kName}}},
    {"software", {{"version", "1.2"}, {"date", kDate}, {"core", "3.1"}, {"coreDate", kDate}}}};

TEST(KestrunectlTest, CommandsPrintWhatTheReceiverAnswersAndExitWithTheirStatus) {
    // clang-format off
    const CommandCase cases[] = {
        {0, "SIM1 9600 8N1 TSIP\n", "", {"-p", "SIM1", "find"}},
        {0, report("sim2:", 4800, "none", "nmea", nullptr, nullptr, true), "",
         {"-p", "sim2:", "--json", "find"}},
        {0, "SIM2 4800 8N1 NMEA\nsentences: GGA,GLL,RMC\n" + kIdentityText, "", {"-p", "SIM2", "show"}},
        {0, report("SIM1", 9600, "none", "tsip", {"GGA", "GSV", "GSA", "RMC"}, kIdentity), "",
            {"-p", "SIM1", "show", "--json"}},
        {0, "SIM6 9600 8N1 TSIP\nsentences: GGA,GSV,GSA,RMC\nproduct: unknown\nhardware: unknown\n"
            "software: unknown\n", "", {"-p", "SIM6", "show"}},
        {0, "SIM1 19200 8O2 NMEA\nsentences: GGA,RMC\n", "",
            {"-p", "SIM1", "set", "--baud", "19200", "--parity", "odd", "--stop-bits", "2",
             "--format", "nmea", "--sentences", "gga,RMC"}},
        {0, report("SIM1", 9600, "even", "tsip", Json::array()), "never tries even parity",
            {"-p", "SIM1", "--json", "set", "--parity", "even", "--sentences", "none"}},
        {0, report("SIM3", 9600, "none", "tsip"), "", {"-p", "SIM3", "reset", "--json"}},
        {0, "SIM1 9600 8N1 TSIP\nsave: saved in the receiver\n", "", {"-p", "SIM1", "save"}},
        {0, withSave(report("SIM3", 4800, "odd", "tsip", {"GGA", "GSV", "GSA", "RMC"}), "saved"), "",
            {"-p", "SIM3", "--json", "set", "--baud", "4800", "--save"}},
        {1, "SIM2 4800 8N1 NMEA\nsave: the receiver did not confirm the save\n",
            "SIM2: the receiver did not confirm the save; a receiver sending NMEA", {"-p", "SIM2", "save"}},
        {1, "", "SIM4: no receiver answered (tried 38400", {"-p", "SIM4", "find"}},
        {1, "", "did not answer at 9600 8N1", {"-p", "SIM4", "reset"}},
        {1, "", "rejected the configuration", {"-p", "SIM5", "set", "--baud", "4800"}},
        {2, "", "--baud: 300 not in", {"-p", "SIM1", "set", "--baud", "300"}},
        {2, "", "XYZ not in", {"-p", "SIM1", "set", "--sentences", "GGA,XYZ"}},
        {2, "", "--sentences: none must stand alone",
            {"-p", "SIM1", "set", "--sentences", "none,GGA"}},
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
// written, the default COM3: (/dev/ttyS2) is used. Errors name the file where it is.
TEST(KestrunectlTest, PortComesFromTheSettingsFile) {
    const std::filesystem::path home = ::testing::TempDir() + "kestrunectl-config";
    const std::string s2 = "kestrunectl: /dev/ttyS2: ", file = home / "Quenterra/Kestrune.conf";
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"[General]\nPort=SIM2\n", "SIM2 4800 8N1 NMEA\n", ""},
        {"[General]\r\nPort = sim2:\r\n", "sim2: 4800 8N1 NMEA\n", ""},
        {"[General]\nPort=\"SIM2\"\n", "", s2},
        {"[Other]\nPort=SIM2\n", "", s2},
        {"[General]\nPort=USB99\n", "",
         "USB99: no such device, it does not exist; kestrunectl ports lists the serial ports, "
         "kestrunectl find --all searches them all; check the cable, the receiver's power and "
         "the port name (-p, or Port in " +
             file + ")"},
        {nullptr, "", s2},
    };
    for (const auto& [text, out, err] : cases) {
        SCOPED_TRACE(text ? text : "no file");
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home / "Quenterra");
        if (text != nullptr) {
            std::ofstream(file) << text;
        }
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        const Outcome run = runProgram(scaled({"find"}));
        ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(run.out, out);
        EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
        EXPECT_EQ(std::filesystem::exists(file), text != nullptr);
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
        {"set", "--stop-bits", "3"}, {"set", "--format", "binary"}, {"watch", "--parity", "odd"},
        {"set", "--parity", "2"}, {"set", "--stop-bits", "0"}, {"set", "--format", "1"},
        {"set", "--sentences", "NONE,gga"}, {"--time-scale", "nan", "find"},
        {"--time-scale", "1e300", "find"}};
    // clang-format on
    // Each refused in one line of plain text.
    for (Args args : usageErrors) {
        args.insert(args.begin(), {"-p", path});
        const Outcome run = runProgram(args);
        EXPECT_EQ(run.status, 2) << args[3];
        EXPECT_TRUE(run.err.ends_with('\n') &&
                    std::all_of(run.err.begin(), run.err.end() - 1,
                                [](char c) { return c >= ' ' && c <= '~'; }))
            << run.err;
    }
    EXPECT_TRUE(receiver.hostWrites().empty());

    const std::string link = "/dev/shm/kestrunectl-test-" + std::to_string(::getpid());
    std::filesystem::create_symlink(path, link);
    for (const std::string& port : {path, link, server->portName()}) {
        if (!port.empty()) {
            const Outcome run = runProgram({"-p", port, "--json", "find"});
            const std::string shown = port == link ? link : path;
            EXPECT_EQ(Json::parse(run.out), Json::parse(report(shown.c_str(), 4800, "none", "tsip",
                                                               nullptr, nullptr, true)));
        }
    }
    std::filesystem::remove(link);
    // A link under /dev whose target is not: refused before an open could call it no terminal.
    const std::string outside = ::testing::TempDir() + "kestrunectl-outside";
    std::ofstream{outside} << "";
    std::filesystem::create_symlink(outside, link);
    const Outcome refused = runProgram({"-p", link, "find"});
    std::filesystem::remove(link);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(link + " leads to " + outside + ", outside /dev"),
              std::string::npos);

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

// Over a pseudo-terminal: port reports of another line are never taken, and a device that goes
// away mid-command (at real timing, once the progress line shows the step) ends it with status 3,
// saying what is known of the receiver then.
TEST(KestrunectlTest, WrongReportsAreNotTakenAndADeviceGoneMidCommandFails) {
    const ReceiverBehaviour misreports{.reportedLine = LineSettings{4800}};
    // clang-format off
    const std::tuple<ReceiverBehaviour, Args, const char*, int, const char*> cases[] = {
        {misreports, scaled({"find"}), nullptr, 1, ": no receiver answered (tried"},
        {{.answering = Answering::Silent}, {"find"}, "find: quick pass", 3,
         ": device disconnected; the receiver's settings are not known; plug it back in"},
        {{}, {"set", "--baud", "4800", "--format", "nmea"}, "set: applying", 3,
         ": device disconnected; set was applying 4800 8N1 NMEA, so the receiver may be where it "
         "was, at 9600 8N1 TSIP after the reset, or at the new settings (before that, the "
         "receiver answered at 9600 8N1 TSIP); plug"},
    };
    // clang-format on
    for (auto [behaviour, args, goneAt, status, err] : cases) {
        const double scale = goneAt == nullptr ? 0.05 : 1.0;  // as scaled() gives the program
        VirtualReceiver receiver{ReceiverSettings{}, behaviour, scale};
        std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
        ASSERT_NE(server, nullptr);
        args.insert(args.begin(), {"-p", server->slavePath()});
        const Outcome run = goneAt == nullptr
                                ? runProgram(args)
                                : runProgram(args, goneAt, 1, SIGINT, [&] { server.reset(); });
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
    }
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
// in the middle of a round, so it is stopped after the second. PRN 3's level drifts within
// 4 dB-Hz of 50.
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
            } else if (message["id"] == 0x47 && message["levels"][0]["prn"] == 3 &&
                       std::abs(message["levels"][0]["level"].get<int>() - 50) <= 4) {
                seen.insert("levels");
            }
        }
        EXPECT_EQ(seen, expected) << run.out;
    }
}

// A stop signal, or an output closed early, ends the command with 128 plus the signal's number
// (SIGPIPE's for the output) once the port is put back: its terminal settings as they were
// before, and not exclusive.
TEST(KestrunectlTest, SignalsAndAClosedOutputPutThePortBack) {
    VirtualReceiver receiver{ReceiverSettings{}};
    const std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
    ASSERT_NE(server, nullptr);
    const int port = ::open(server->slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios before{};
    ASSERT_TRUE(port >= 0 && ::tcgetattr(port, &before) == 0);
    // Cooked reading, unlike the raw line the program sets.
    before.c_iflag |= ICRNL;
    before.c_lflag |= ICANON | ISIG;
    ASSERT_EQ(::tcsetattr(port, TCSANOW, &before), 0);
    const Args watch{"-p", server->slavePath(), "watch", "--baud", "9600", "--parity", "none"};
    std::vector<std::pair<Args, int>> cases{{watch, kCloseOutput},
                                            {{"-p", watch[1], "find"}, kCloseOutput}};
    for (const int signal :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGRTMIN}) {
        cases.emplace_back(watch, signal);
    }
    for (const auto& [args, signal] : cases) {
        SCOPED_TRACE(std::to_string(signal) + " " + args[2]);
        const Outcome run = runProgram(args, args[2] == "find" ? "find:" : "{", 1, signal);
        EXPECT_EQ(run.status, 128 + (signal == kCloseOutput ? SIGPIPE : signal));
        termios after{};
        int exclusive = 1;
        ASSERT_TRUE(::tcgetattr(port, &after) == 0 && ::ioctl(port, TIOCGEXCL, &exclusive) == 0);
        EXPECT_EQ(std::pair(after.c_iflag, after.c_lflag),
                  std::pair(before.c_iflag, before.c_lflag));
        EXPECT_EQ(exclusive, 0);
    }
    ::close(port);
}

// kestrune-sim stops cleanly, rather than die of SIGPIPE, when its output has gone and a
// change of settings has a line to print.
TEST(KestruneSimTest, StopsWhenItsOutputCloses) {
    std::array<int, 2> out{};
    ASSERT_EQ(::pipe2(out.data(), O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(KESTRUNE_SIM, KESTRUNE_SIM, nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    // Its device and port name, then nothing until the settings change.
    std::string lines;
    for (char c = 0; countOf(lines, "\n") < 2 && ::read(out[0], &c, 1) == 1;) {
        lines += c;
    }
    ::close(out[0]);
    const int port = ::open(lines.substr(0, lines.find('\n')).c_str(), O_RDWR | O_NOCTTY);
    const TsipFrame to4800 = portConfig({4800, Parity::None, StopBits::One}, OutputProtocol::Tsip);
    EXPECT_EQ(::write(port, to4800.bytes().data(), to4800.length), ssize_t(to4800.length));
    int status = 0;
    ::waitpid(pid, &status, 0);  // the test's time limit guards against a hang
    ::close(port);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace kestrune::test
