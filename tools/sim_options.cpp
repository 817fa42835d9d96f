#include "tools/sim_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrune {

namespace {

constexpr std::string_view kHexPrefix = "0x";
constexpr std::string_view kHexPrefixUpper = "0X";
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr std::uint32_t kLongestInterval = 255;
constexpr std::size_t kPlaceFields = 3;
constexpr std::size_t kHelpColumn = 34;
constexpr std::string_view kNoIdentity = "none";
constexpr std::uint32_t kLargestByte = 255;
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

constexpr const char* kDescription =
    "kestrune-sim: a virtual GPS receiver that speaks TSIP (or NMEA), served on a new\n"
    "pseudo-terminal. It prints the device path and the port name to store for it (PTSn),\n"
    "then one line each time its port settings change, and runs until interrupted.\n"
    "It reports the host's time and a fixed place once a second and answers the standard\n"
    "queries, so gpsd can be pointed at it:\n"
    "  gpsd -N -n /dev/pts/N                 (TSIP at 9600 bits/s, the default)\n"
    "  gpsd -N -n -s 4800 /dev/pts/N         (with kestrune-sim --baud 4800 --nmea)\n";

constexpr const char* kFooter =
    "A pseudo-terminal cannot carry everything a serial line does: a line break never reaches\n"
    "the receiver (so a reset by line break does not happen), and even parity cannot be told\n"
    "from no parity (the receiver sees the host's speed, odd parity and stop bits only).\n"
    "SIGUSR1 power-cycles the receiver: the configuration last saved comes back, or the\n"
    "factory settings (9600 8N1 TSIP) when none was saved.\n"
    "Each side reads what a UART at its own settings makes of the other's waveform: the\n"
    "bytes sent at equal speed and parity, garbled bytes otherwise, as on a real line.";

std::vector<std::uint32_t> offeredRates() {
    std::vector<std::uint32_t> rates;
    for (const BaudRate& rate : kBaudRates) {
        rates.push_back(rate.baud);
    }
    return rates;
}

std::vector<std::string> uartNames() {
    std::vector<std::string> names;
    for (const UartChoice& choice : kUartChoices) {
        names.emplace_back(choice.name);
    }
    return names;
}

std::string uartHelp() {
    std::string help = "the serial hardware between receiver and host (default edge):";
    for (const UartChoice& choice : kUartChoices) {
        help += "\n" + std::string(choice.name) + ": " + std::string(choice.models);
    }
    return help;
}

// Rewrites a decimal or 0x hex number as plain decimal, so that no leading zero is read as
// octal; an error text for anything else.
std::string decimalOrHex(std::string& text) {
    std::string_view digits = text;
    int base = kDecimalBase;
    if (digits.starts_with(kHexPrefix) || digits.starts_with(kHexPrefixUpper)) {
        digits.remove_prefix(kHexPrefix.size());
        base = kHexBase;
    }
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return "not a decimal or 0x hex number below 2^32: " + text;
    }
    text = std::to_string(value);
    return {};
}

// The whole of text as a finite number.
std::optional<double> finiteNumber(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string speedFactor(const std::string& text) {
    const auto factor = finiteNumber(text);
    if (!factor || *factor < kFastestSpeed || *factor > kSlowestSpeed) {
        return "the factor must be a number from 0.001 to 1000: " + text;
    }
    return {};
}

// LAT,LON,ALT: three numbers, a place on the globe.
std::optional<Place> placeOf(std::string_view text) {
    std::array<double, kPlaceFields> fields{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t comma = i + 1 < fields.size() ? text.find(',') : text.size();
        const auto value = finiteNumber(text.substr(0, comma));
        if (!value || comma == std::string_view::npos) {
            return std::nullopt;
        }
        fields[i] = *value;
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    const Place place{fields[0], fields[1], fields[2]};
    return isValidPlace(place) ? std::optional(place) : std::nullopt;
}

std::string placeText(const std::string& text) {
    if (!placeOf(text)) {
        return "LAT,LON,ALT: latitude -90 to 90, longitude -180 to 180 (degrees), height -500 "
               "to 100000 m: " +
               text;
    }
    return {};
}

// The whole of text as a number from 0 to most.
std::optional<std::uint32_t> wholeNumber(std::string_view text, std::uint32_t most) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > most) {
        return std::nullopt;
    }
    return value;
}

// The field of text up to the next comma, taken off text.
std::string_view nextField(std::string_view& text) {
    const std::size_t comma = std::min(text.find(','), text.size());
    const std::string_view field = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
    return field;
}

// NAME,MAJOR.MINOR[,SERIAL], or none.
std::optional<IdentityProfile> identityOf(std::string_view text) {
    IdentityProfile profile;
    if (text == kNoIdentity) {
        profile.answers = false;
        return profile;
    }
    const std::string_view name = nextField(text);
    const std::string_view version = nextField(text);
    const std::size_t dot = std::min(version.find('.'), version.size());
    const auto major = wholeNumber(version.substr(0, dot), kLargestByte);
    const auto minor = wholeNumber(version.substr(std::min(dot + 1, version.size())), kLargestByte);
    const auto serial = text.empty() ? std::optional(profile.serialNumber)
                                     : wholeNumber(text, std::numeric_limits<std::uint32_t>::max());
    const bool printable = std::all_of(name.begin(), name.end(), [](char c) {
        return c >= kFirstPrintable && c <= kLastPrintable;
    });
    if (name.empty() || name.size() > ProductName::kLongest || !printable ||
        dot == version.size() || !major || !minor || !serial) {
        return std::nullopt;
    }
    profile.product = name;
    profile.major = static_cast<std::uint8_t>(*major);
    profile.minor = static_cast<std::uint8_t>(*minor);
    profile.serialNumber = *serial;
    return profile;
}

std::string identityText(const std::string& text) {
    if (!identityOf(text)) {
        return "NAME,MAJOR.MINOR[,SERIAL] or none: a name of 1 to 40 printable characters, "
               "version numbers 0 to 255, a serial number below 2^32: " +
               text;
    }
    return {};
}

// The texts that go after each option in the help are its own; the validators add none.
const CLI::Validator kNumber(decimalOrHex, "");
const CLI::Validator kSpeed(speedFactor, "");
const CLI::Validator kPlace(placeText, "");
const CLI::Validator kIdentity(identityText, "");

void addSettings(CLI::App& app, SimOptions& o) {
    const char* group = "Initial settings";
    LineSettings& line = o.settings.line;
    app.add_option("--baud", line.baud, "1200, 2400, 4800, 9600 (default), 19200 or 38400")
        ->transform(kNumber)
        ->check(CLI::IsMember(offeredRates()).description(""))
        ->type_name("N")
        ->group(group);
    app.add_option_function<std::string>(
           "--parity",
           [&line](const std::string& text) {
               line.parity = text == "odd" ? Parity::Odd : Parity::None;
           },
           "none (default) or odd")
        ->check(CLI::IsMember({"none", "odd"}).description(""))
        ->type_name("P")
        ->group(group);
    app.add_option_function<std::string>(
           "--stop-bits",
           [&line](const std::string& text) {
               line.stopBits = text == "2" ? StopBits::Two : StopBits::One;
           },
           "1 (default) or 2")
        ->transform(kNumber)
        ->check(CLI::IsMember({"1", "2"}).description(""))
        ->type_name("N")
        ->group(group);
    app.add_flag_callback(
           "--nmea", [&o] { o.settings.output = OutputProtocol::Nmea; },
           "emit NMEA sentences instead of TSIP reports")
        ->group(group);
    app.add_option("--mask", o.settings.sentenceMask,
                   "the receiver's sentence mask, decimal or 0x hex (default 0x119):\n"
                   "GGA bit 0, GLL 1, VTG 2, GSV 3, GSA 4, ZDA 5, RMC 8")
        ->transform(kNumber)
        ->type_name("M")
        ->group(group);
    app.add_option("--interval", o.settings.intervalSeconds,
                   "output interval in seconds, 1 to 255 (default 1)")
        ->transform(kNumber)
        ->check(CLI::Range(std::uint32_t{1}, kLongestInterval).description(""))
        ->type_name("S")
        ->group(group);
}

void addBehaviour(CLI::App& app, SimOptions& o, std::string& place, std::string& identity) {
    const char* group = "Behaviour";
    ReceiverBehaviour& b = o.behaviour;
    auto* silent = app.add_flag_callback(
        "--silent", [&b] { b.answering = Answering::Silent; }, "hear and obey, but send nothing");
    auto* reject = app.add_flag_callback(
        "--reject", [&b] { b.answering = Answering::RejectsPortConfig; },
        "reject every port configuration");
    silent->excludes(reject)->group(group);
    reject->group(group);
    const std::map<std::string, SaveAnswer> saveAnswers{{"report", SaveAnswer::Report},
                                                        {"restart", SaveAnswer::Restart},
                                                        {"refuse", SaveAnswer::Refuse}};
    app.add_option("--save-answer", b.saveAnswer,
                   "how it answers a save: report (0x8F-26, the default),\n"
                   "restart (then 0x45) or refuse (0x13: it cannot save)")
        ->transform(CLI::CheckedTransformer(saveAnswers).description(""))
        ->type_name("A")
        ->group(group);
    app.add_option("--seed", b.lineSeed,
                   "seed of the idle gaps between what the receiver sends (default 1)")
        ->transform(kNumber)
        ->type_name("N")
        ->group(group);
    app.add_option("--position", place,
                   "where the receiver stands (default 52.22402,4.96878,58.6):\n"
                   "latitude and longitude in degrees, north and east positive,\n"
                   "height in metres above the WGS-84 ellipsoid")
        ->check(kPlace)
        ->type_name("LAT,LON,ALT")
        ->group(group);
    app.add_option("--speed", o.speed,
                   "multiply every delay of the receiver by F, 0.001 to 1000\n"
                   "(0.05: 20 times faster)")
        ->check(kSpeed)
        ->type_name("F")
        ->group(group);
    app.add_option_function<std::string>(
           "--uart", [&b](const std::string& text) { b.uart = *findUartChoice(text); }, uartHelp())
        ->check(CLI::IsMember(uartNames()).description(""))
        ->type_name("NAME")
        ->group(group);
    const std::map<std::string, LineNoise> noises{
        {"none", LineNoise::None}, {"others", LineNoise::OtherSettings}, {"only", LineNoise::Only}};
    app.add_option("--noise", b.noise,
                   "what the host hears where the receiver does not talk: none\n"
                   "(the default), others (noise at every setting but the\n"
                   "receiver's own) or only (noise everywhere, no receiver)")
        ->transform(CLI::CheckedTransformer(noises).description(""))
        ->type_name("N")
        ->group(group);
    app.add_option("--identity", identity,
                   "who it says it is when asked (default\n"
                   "\"Kestrune Virtual Receiver,1.2,20260314\"), or none:\n"
                   "refuse the identity queries")
        ->check(kIdentity)
        ->type_name("NAME,VER[,SERIAL]")
        ->group(group);
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    SimOptions options;
    std::string place;
    std::string identity;
    CLI::App app(kDescription, "kestrune-sim");
    app.footer(kFooter);
    app.get_formatter()->column_width(kHelpColumn);
    app.set_version_flag("--version", std::string("kestrune-sim ") + KESTRUNE_VERSION);
    addSettings(app, options);
    addBehaviour(app, options, place, identity);
    try {
        app.parse(argc, argv);
        options.behaviour.place = placeOf(place).value_or(options.behaviour.place);
        options.behaviour.identity = identityOf(identity).value_or(options.behaviour.identity);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return CommandLine{std::nullopt, status == 0 ? 0 : kExitUsage};
    }
    return CommandLine{options, 0};
}

std::string describeSettings(const ReceiverSettings& settings) {
    const LineSettings& line = settings.line;
    const char parity = line.parity == Parity::Odd ? 'O' : line.parity == Parity::Even ? 'E' : 'N';
    return std::to_string(line.baud) + " 8" + parity +
           (line.stopBits == StopBits::Two ? "2" : "1") +
           (settings.output == OutputProtocol::Nmea ? " NMEA" : " TSIP");
}

}  // namespace kestrune
