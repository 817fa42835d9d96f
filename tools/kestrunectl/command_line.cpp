#include "tools/kestrunectl/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <vector>

#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kProgram = "kestrunectl";
constexpr std::string_view kNoSentences = "none";

constexpr const char* kFooter =
    "Without -p the port named in $XDG_CONFIG_HOME/Quenterra/Kestrune.conf is used (COM3: if\n"
    "none); find --all and show --all search every port that kestrunectl ports lists. Exit\n"
    "status: 0 done, 1 the receiver did not answer or refused (with --all: none was found), 2\n"
    "usage error, 3 the port cannot be opened or its device went away, 130 interrupted.";

struct CommandEntry {
    const char* name;
    const char* description;
    Command command;
};

constexpr std::array<CommandEntry, 6> kCommands{{
    {"find", "search for the receiver and print its port settings", Command::Find},
    {"show", "find the receiver and print its settings and NMEA sentences", Command::Show},
    {"set", "write a new configuration; what is not given is kept", Command::Set},
    {"reset", "return the receiver to 9600 8N1 TSIP with a line break", Command::Reset},
    {"watch", "show what the receiver sends until Ctrl-C", Command::Watch},
    {"ports", "list the serial ports, who may open them and who holds them", Command::Ports},
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

void addLineOptions(CLI::App& command, LineOptions& line) {
    line.baudOption = command.add_option("--baud", line.baud, "bits per second")
                          ->check(CLI::IsMember(offeredRates()));
    line.parityOption = command.add_option("--parity", line.parity, "parity")
                            ->transform(CLI::CheckedTransformer(parityWords(), CLI::ignore_case))
                            ->option_text("none|odd|even");
    line.stopBitsOption = command.add_option("--stop-bits", line.stopBits, "stop bits")
                              ->transform(CLI::CheckedTransformer(stopBitWords()))
                              ->option_text("1|2");
}

void addSetOptions(CLI::App& set, SetOptions& options) {
    addLineOptions(set, options.line);
    options.protocolOption =
        set.add_option("--format", options.protocol, "output protocol")
            ->transform(CLI::CheckedTransformer(protocolWords(), CLI::ignore_case))
            ->option_text("tsip|nmea");
    options.sentencesOption =
        set.add_option("--sentences", options.sentences, "NMEA sentences to emit, or none")
            ->delimiter(',')
            ->option_text("GGA,GLL,VTG,GSV,GSA,ZDA,RMC|none")
            ->check(CLI::IsMember(sentenceWords(), CLI::ignore_case));
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
    app.footer(kFooter);
    app.set_version_flag("--version", std::string(kProgram) + " " + KESTRUNE_VERSION);
    app.add_option("-p,--port", invocation.port,
                   "COM3:, USB0, SIM2, PTS4, or a terminal device under /dev");
    app.add_flag("--json", invocation.json, "write results as JSON");
    app.add_flag("-q,--quiet", invocation.quiet, "no progress line");
    app.add_option("--time-scale", invocation.timeScale)->check(CLI::PositiveNumber)->group("");
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
    SetOptions setOptions;
    addSetOptions(*subcommands[Command::Set], setOptions);
    LineOptions watchLine;
    addLineOptions(*subcommands[Command::Watch], watchLine);
    watchLine.baudOption->needs(watchLine.parityOption);
    watchLine.parityOption->needs(watchLine.baudOption);
    watchLine.stopBitsOption->needs(watchLine.baudOption);

    try {
        app.parse(argc, argv);
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
