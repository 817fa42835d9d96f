#include "tools/kestrunectl/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>
#include <vector>

#include "link/serial_device.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/receivers_file.h"
#include "tools/kestrunectl/settings_file.h"
#include "tools/sim_options.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kProgram = "kestrunectl";
constexpr std::string_view kNoSentences = "none";

constexpr const char* kExitStatuses =
    "find --all and show --all search every port that kestrunectl ports lists.\n"
    "Exit status: 0 done, 1 the receiver did not answer or refused (with --all: none was\n"
    "found; save and set --save: the save was not confirmed or cannot be), 2 usage error or a\n"
    "bad configuration file (apply then sends nothing), 3 the port cannot be opened or its\n"
    "device went away, 130 interrupted (128 + N for a stop signal N), 141 the output was closed.\n"
    "The port is put back as it was in every case, but one: a port borrowed from gpsd is handed\n"
    "back at the receiver's new settings, so that gpsd finds the receiver at once.";

std::string footer() {
    return "Without -p the port named in " + settingsFileShown() + " is used (COM3: if none).\n" +
           kExitStatuses;
}

struct CommandEntry {
    const char* name;
    const char* description;
    Command command;
};

constexpr std::array<CommandEntry, 8> kCommands{{
    {"find", "search for the receiver and print its port settings", Command::Find},
    {"show", "find the receiver and print its settings and NMEA sentences", Command::Show},
    {"set", "write a new configuration; what is not given is kept", Command::Set},
    {"save", "find the receiver and have it keep its settings through power-off", Command::Save},
    {"reset", "return the receiver to 9600 8N1 TSIP with a line break", Command::Reset},
    {"watch", "show what the receiver sends until Ctrl-C", Command::Watch},
    {"ports", "list the serial ports, who may open them and who holds them", Command::Ports},
    {"apply", "bring receivers to the configuration declared for them", Command::Apply},
}};

// The line options of set and watch, as CLI11 fills them.
struct LineOptions {
    std::uint32_t baud = 0;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    CLI::Option* baudOption = nullptr;
    CLI::Option* parityOption = nullptr;
    CLI::Option* stopBitsOption = nullptr;
};

struct SetOptions {
    LineOptions line;
    OutputProtocol protocol = OutputProtocol::Tsip;
    std::vector<std::string> sentences;
    CLI::Option* protocolOption = nullptr;
    CLI::Option* sentencesOption = nullptr;
};

std::vector<std::uint32_t> offeredRates() {
    std::vector<std::uint32_t> rates;
    for (const BaudRate& rate : kBaudRates) {
        rates.push_back(rate.baud);
    }
    return rates;
}

std::vector<std::string> sentenceWords() {
    std::vector<std::string> words{std::string(kNoSentences)};
    for (const NmeaSentence& sentence : kNmeaSentences) {
        words.emplace_back(sentence.name);
    }
    return words;
}

std::map<std::string, Parity> parityWords() {
    std::map<std::string, Parity> words;
    for (const Parity parity : {Parity::None, Parity::Odd, Parity::Even}) {
        words.emplace(parityWord(parity), parity);
    }
    return words;
}

std::map<std::string, StopBits> stopBitWords() {
    return {{std::to_string(kOneStopBit), StopBits::One},
            {std::to_string(kTwoStopBits), StopBits::Two}};
}

std::map<std::string, OutputProtocol> protocolWords() {
    std::map<std::string, OutputProtocol> words;
    for (const OutputProtocol protocol : {OutputProtocol::Tsip, OutputProtocol::Nmea}) {
        words.emplace(protocolWord(protocol), protocol);
    }
    return words;
}

// An option that takes one of the words, in any letter case, and nothing else: not the values
// they stand for either, so that the refusal names only the words.
template <typename T>
CLI::Option* addWordOption(CLI::App& command, const std::string& name, T& value,
                           std::map<std::string, T> words, const std::string& description) {
    std::vector<std::string> listed;
    for (const auto& entry : words) {
        listed.push_back(entry.first);
    }
    // The check puts the word in the letter case it is listed in.
    return command
        .add_option_function<std::string>(
            name, [&value, words](const std::string& word) { value = words.at(word); }, description)
        ->transform(CLI::IsMember(listed, CLI::ignore_case));
}

void addLineOptions(CLI::App& command, LineOptions& line) {
    line.baudOption = command.add_option("--baud", line.baud, "bits per second")
                          ->check(CLI::IsMember(offeredRates()));
    line.parityOption = addWordOption(command, "--parity", line.parity, parityWords(), "parity")
                            ->option_text("none|odd|even");
    line.stopBitsOption =
        addWordOption(command, "--stop-bits", line.stopBits, stopBitWords(), "stop bits")
            ->option_text("1|2");
}

// "none" stands for no sentence, so it cannot stand beside one.
void refuseNoneBesideSentences(const std::vector<std::string>& words) {
    if (words.size() > 1 && std::find(words.begin(), words.end(), kNoSentences) != words.end()) {
        throw CLI::ValidationError("--sentences", "none must stand alone");
    }
}

void addSetOptions(CLI::App& set, SetOptions& options) {
    addLineOptions(set, options.line);
    options.protocolOption =
        addWordOption(set, "--format", options.protocol, protocolWords(), "output protocol")
            ->option_text("tsip|nmea");
    options.sentencesOption =
        set.add_option("--sentences", options.sentences, "NMEA sentences to emit, or none")
            ->delimiter(',')
            ->option_text("GGA,GLL,VTG,GSV,GSA,ZDA,RMC|none")
            ->transform(CLI::IsMember(sentenceWords(), CLI::ignore_case));
}

void addApplyOptions(CLI::App& apply, Invocation& invocation) {
    apply.add_option("--config", invocation.configFile,
                     std::string("the declared configuration; default ") + kReceiversFile);
    CLI::Option* device =
        apply.add_option("--device", invocation.device, "the one device to apply to")
            ->check([](const std::string& path) {
                return underDeviceFolder(path) ? std::string{} : path + " is not under /dev";
            });
    CLI::Option* all =
        apply.add_flag("--all", invocation.allPorts, "every listed port some table matches");
    device->excludes(all);
    apply.add_flag("--dry-run", invocation.dryRun, "say what would change and send nothing");
    apply.callback([device, all] {
        if (device->count() + all->count() == 0) {
            throw CLI::RequiredError("--device or --all");
        }
    });
}

// The factors kestrune-sim's --speed takes; NaN fails both comparisons. Checked here rather
// than by a validator, which would not name a hidden option in its refusal.
double timeScaleOf(const std::optional<std::string>& text) {
    if (!text) {
        return 1.0;
    }
    double factor = 0.0;
    const char* const end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, factor);
    if (error != std::errc() || stop != end || !(factor >= kFastestSpeed) ||
        !(factor <= kSlowestSpeed)) {
        throw CLI::ValidationError("--time-scale",
                                   "the factor must be a number from 0.001 to 1000: " + *text);
    }
    return factor;
}

NmeaMask sentenceMask(const std::vector<std::string>& words) {
    NmeaMask mask = 0;
    for (const std::string& word : words) {
        for (const NmeaSentence& sentence : kNmeaSentences) {
            const bool same = std::equal(word.begin(), word.end(), sentence.name.begin(),
                                         sentence.name.end(), [](char a, char b) {
                                             return std::toupper(static_cast<unsigned char>(a)) ==
                                                    static_cast<unsigned char>(b);
                                         });
            mask |= same ? sentence.bit : 0;
        }
    }
    return mask;
}

template <typename T>
std::optional<T> given(const CLI::Option* option, const T& value) {
    return option->count() > 0 ? std::optional<T>(value) : std::nullopt;
}

SetRequest setRequestOf(const SetOptions& options) {
    return SetRequest{
        given(options.line.baudOption, options.line.baud),
        given(options.line.parityOption, options.line.parity),
        given(options.line.stopBitsOption, options.line.stopBits),
        given(options.protocolOption, options.protocol),
        options.sentencesOption->count() > 0
            ? std::optional<NmeaMask>(sentenceMask(options.sentences))
            : std::nullopt,
    };
}

std::optional<LineSettings> listenAtOf(const LineOptions& line) {
    if (line.baudOption->count() == 0) {
        return std::nullopt;
    }
    return LineSettings{line.baud, line.parity, line.stopBits};
}

std::string oneLineFailure(const CLI::App*, const CLI::Error& error) {
    return std::string(kProgram) + ": " + error.what() + "; see " + kProgram + " --help\n";
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, Invocation& invocation) {
    CLI::App app{"Finds, shows and sets up a GPS receiver that speaks TSIP on a serial port.",
                 kProgram};
    app.footer(footer());
    app.set_version_flag("--version", std::string(kProgram) + " " + KESTRUNE_VERSION);
    app.add_option("-p,--port", invocation.port,
                   "COM3:, USB0, SIM2, PTS4, or a terminal device under /dev");
    app.add_flag("--json", invocation.json, "write results as JSON");
    app.add_flag("-q,--quiet", invocation.quiet, "no progress line");
    auto* gpsdSocket = app.add_option("--gpsd-socket", invocation.gpsdSocket,
                                      "gpsd's control socket, to borrow a port gpsd holds")
                           ->default_str(kGpsdControlSocket)
                           ->type_name("PATH");
    app.add_flag("--no-gpsd", invocation.noGpsd, "never ask gpsd to let go of a port it holds")
        ->excludes(gpsdSocket);
    std::optional<std::string> timeScale;
    app.add_option("--time-scale", timeScale)->group("");
    app.require_subcommand(1);
    app.fallthrough();
    app.failure_message(oneLineFailure);

    std::map<Command, CLI::App*> subcommands;
    for (const CommandEntry& entry : kCommands) {
        subcommands[entry.command] = app.add_subcommand(entry.name, entry.description);
    }
    for (const Command command : {Command::Find, Command::Show}) {
        subcommands[command]->add_flag("--all", invocation.allPorts,
                                       "search every listed serial port at once");
        subcommands[command]
            ->add_flag("--thorough", invocation.thorough,
                       "with --all, run the full pass on ports that stayed silent too")
            ->needs("--all");
    }
    subcommands[Command::Ports]->add_flag("--all", invocation.allPorts,
                                          "also list legacy ports with no UART behind them");
    addApplyOptions(*subcommands[Command::Apply], invocation);
    SetOptions setOptions;
    addSetOptions(*subcommands[Command::Set], setOptions);
    subcommands[Command::Set]->add_flag("--save", invocation.save,
                                        "then have the receiver keep them through power-off");
    LineOptions watchLine;
    addLineOptions(*subcommands[Command::Watch], watchLine);
    watchLine.baudOption->needs(watchLine.parityOption);
    watchLine.parityOption->needs(watchLine.baudOption);
    watchLine.stopBitsOption->needs(watchLine.baudOption);

    try {
        app.parse(argc, argv);
        refuseNoneBesideSentences(setOptions.sentences);
        invocation.timeScale = timeScaleOf(timeScale);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == kExitDone ? kExitDone : kExitUsage;
    }
    for (const auto& [command, subcommand] : subcommands) {
        if (subcommand->parsed()) {
            invocation.command = command;
        }
    }
    invocation.set = setRequestOf(setOptions);
    invocation.listenAt = listenAtOf(watchLine);
    return std::nullopt;
}

}  // namespace kestrune::ctl
