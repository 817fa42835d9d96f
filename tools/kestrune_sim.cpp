// kestrune-sim: the built-in virtual receiver served on a pseudo-terminal, so the program (or
// any serial tool) can be tried without hardware. Prints the device to open and the port name to
// store for it, then serves until SIGINT or SIGTERM.
#include <pthread.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"

namespace {

using namespace kestrune;

constexpr int kUsageError = 2;
constexpr int kStartError = 1;
constexpr std::uint32_t kLongestInterval = 255;
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr std::string_view kHexPrefix = "0x";
constexpr std::string_view kHexPrefixUpper = "0X";
constexpr std::uint32_t kOneStopOption = 1;
constexpr std::uint32_t kTwoStopsOption = 2;

constexpr const char* kHelp =
    "Usage: kestrune-sim [options]\n"
    "Serves a virtual GPS receiver that speaks TSIP on a new pseudo-terminal, prints the\n"
    "device path and the port name to store for it (PTSn), and runs until interrupted.\n"
    "\n"
    "Initial settings:\n"
    "  --baud N           1200, 2400, 4800, 9600 (default), 19200 or 38400\n"
    "  --parity P         none (default) or odd\n"
    "  --stop-bits N      1 (default) or 2\n"
    "  --nmea             emit NMEA sentences instead of TSIP reports\n"
    "  --mask M           the receiver's sentence mask, decimal or 0x hex: GGA bit 0, GLL 1,\n"
    "                     VTG 2, GSV 3, GSA 4, ZDA 5, RMC 8 (default 0x119)\n"
    "  --interval S       output interval in seconds, 1 to 255 (default 1)\n"
    "Behaviour:\n"
    "  --silent           hear and obey, but send nothing\n"
    "  --reject           reject every port configuration\n"
    "  --noise            send junk bytes to a host at other line settings\n"
    "  --seed N           seed of the junk (default 1)\n"
    "  --speed F          multiply every delay of the receiver by F (0.05: 20 times faster)\n"
    "  --help             this text\n"
    "\n"
    "A pseudo-terminal cannot carry everything a serial line does: a line break never reaches\n"
    "the receiver (so a reset by line break does not happen), and even parity cannot be told\n"
    "from no parity (the receiver sees the host's speed, odd parity and stop bits only).\n";

struct Options {
    ReceiverSettings settings;
    ReceiverBehaviour behaviour;
    double speed = 1.0;
    bool help = false;
};

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    int base = kDecimalBase;
    if (text.starts_with(kHexPrefix) || text.starts_with(kHexPrefixUpper)) {
        text.remove_prefix(kHexPrefix.size());
        base = kHexBase;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Applies an option that takes a value; false if the value does not fit.
bool applyValue(std::string_view name, std::string_view value, Options& options) {
    const auto number = parseNumber(value);
    LineSettings& line = options.settings.line;
    if (name == "--baud" && number && findBaudRate(*number)) {
        line.baud = *number;
    } else if (name == "--parity" && (value == "none" || value == "odd")) {
        line.parity = value == "odd" ? Parity::Odd : Parity::None;
    } else if (name == "--stop-bits" && number &&
               (*number == kOneStopOption || *number == kTwoStopsOption)) {
        line.stopBits = *number == kTwoStopsOption ? StopBits::Two : StopBits::One;
    } else if (name == "--mask" && number) {
        options.settings.sentenceMask = *number;
    } else if (name == "--interval" && number && *number >= 1 && *number <= kLongestInterval) {
        options.settings.intervalSeconds = *number;
    } else if (name == "--seed" && number) {
        options.behaviour.noiseSeed = *number;
    } else if (name == "--speed") {
        char* end = nullptr;
        const std::string copy(value);
        options.speed = std::strtod(copy.c_str(), &end);
        return end != copy.c_str() && *end == '\0' && options.speed > 0.0;
    } else {
        return false;
    }
    return true;
}

// Applies a switch; false if name is not one.
bool applySwitch(std::string_view name, Options& options) {
    if (name == "--nmea") {
        options.settings.output = OutputProtocol::Nmea;
    } else if (name == "--silent") {
        options.behaviour.answering = Answering::Silent;
    } else if (name == "--reject") {
        options.behaviour.answering = Answering::RejectsPortConfig;
    } else if (name == "--noise") {
        options.behaviour.noise = true;
    } else if (name == "--help" || name == "-h") {
        options.help = true;
    } else {
        return false;
    }
    return true;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (applySwitch(name, options)) {
            continue;
        }
        if (i + 1 >= argc || !applyValue(name, argv[i + 1], options)) {
            std::fprintf(stderr, "kestrune-sim: bad option or value: %s\n", argv[i]);
            return std::nullopt;
        }
        ++i;
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs("Try kestrune-sim --help\n", stderr);
        return kUsageError;
    }
    if (options->help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    // Blocked before any thread starts, so every thread inherits the mask and the signals wait
    // for sigwait below instead of killing the process mid-write.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    VirtualReceiver receiver(options->settings, options->behaviour, options->speed);
    const std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
    if (!server) {
        std::fputs("kestrune-sim: cannot open a pseudo-terminal\n", stderr);
        return kStartError;
    }
    const std::string portName = server->portName();
    if (portName.empty()) {
        std::fprintf(stderr,
                     "kestrune-sim: %s has no port name of five characters or fewer; the "
                     "program cannot be pointed at it. Close other terminals and try again.\n",
                     server->slavePath().c_str());
    }
    std::printf("%s\n%s\n", server->slavePath().c_str(), portName.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
    return 0;
}
