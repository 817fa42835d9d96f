#include "tools/kestrunectl/receivers_file.h"

#include <toml++/toml.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>

#include "link/serial_device.h"
#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

constexpr std::string_view kReceiverTables = "receiver";
constexpr std::string_view kDefaultTable = "default";
constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";

struct Fault {
    std::size_t line = 0;
    std::string what;
};
using Faulty = std::optional<Fault>;

std::size_t lineOf(const toml::node& node) {
    return node.source().begin.line;
}

Fault wrongType(const toml::node& value, std::string_view key, std::string_view type) {
    return Fault{lineOf(value), std::string(key) + " must be " + std::string(type)};
}

template <typename T>
struct Word {
    std::string_view word;
    T value;
};

constexpr std::array<Word<MatchKey>, 3> kMatchKeys{{
    {"by-id", MatchKey::ById},
    {"device", MatchKey::Device},
    {"usb-serial", MatchKey::UsbSerial},
}};
constexpr std::array<Word<Parity>, 3> kParities{{
    {"none", Parity::None},
    {"odd", Parity::Odd},
    {"even", Parity::Even},
}};
constexpr std::array<Word<OutputProtocol>, 2> kFormats{{
    {"tsip", OutputProtocol::Tsip},
    {"nmea", OutputProtocol::Nmea},
}};

template <typename T, std::size_t N>
std::string wordList(const std::array<Word<T>, N>& words) {
    std::string text;
    for (const Word<T>& word : words) {
        text += (text.empty() ? "" : ", ") + std::string(word.word);
    }
    return text;
}

template <typename T, std::size_t N>
Faulty readWord(const toml::node& value, std::string_view key, const std::array<Word<T>, N>& words,
                std::optional<T>& into) {
    const std::optional<std::string_view> text = value.value_exact<std::string_view>();
    if (!text) {
        return wrongType(value, key, "a string");
    }
    for (const Word<T>& word : words) {
        if (*text == word.word) {
            into = word.value;
            return std::nullopt;
        }
    }
    return Fault{lineOf(value), std::string(key) + " \"" + std::string(*text) + "\" is none of " +
                                    wordList(words)};
}

Faulty readBaud(const toml::node& value, DeclaredReceiver& table) {
    const std::optional<std::int64_t> baud = value.value_exact<std::int64_t>();
    if (!baud) {
        return wrongType(value, "baud", "a whole number");
    }
    const bool fits = *baud > 0 && *baud <= std::numeric_limits<std::uint32_t>::max();
    if (!fits || !findBaudRate(static_cast<std::uint32_t>(*baud))) {
        std::string rates;
        for (const BaudRate& rate : kBaudRates) {
            rates += (rates.empty() ? "" : ", ") + std::to_string(rate.baud);
        }
        return Fault{lineOf(value), "baud " + std::to_string(*baud) +
                                        " is not a rate the receiver offers: " + rates};
    }
    table.wanted.baud = static_cast<std::uint32_t>(*baud);
    return std::nullopt;
}

// Even parity is refused: no search tries it, so a receiver set to it could never be found and
// checked again by the next run.
Faulty readParity(const toml::node& value, DeclaredReceiver& table) {
    if (Faulty fault = readWord(value, "parity", kParities, table.wanted.parity)) {
        return fault;
    }
    if (table.wanted.parity == Parity::Even) {
        return Fault{lineOf(value),
                     "parity \"even\" cannot be applied: no search finds a "
                     "receiver at even parity to check it again; use none or odd"};
    }
    return std::nullopt;
}

Faulty readFormat(const toml::node& value, DeclaredReceiver& table) {
    return readWord(value, "format", kFormats, table.wanted.protocol);
}

Faulty readStopBits(const toml::node& value, DeclaredReceiver& table) {
    const std::optional<std::int64_t> count = value.value_exact<std::int64_t>();
    if (!count) {
        return wrongType(value, "stop-bits", "a whole number");
    }
    if (*count != kOneStopBit && *count != kTwoStopBits) {
        return Fault{lineOf(value), "stop-bits " + std::to_string(*count) + " is neither 1 nor 2"};
    }
    table.wanted.stopBits = *count == kTwoStopBits ? StopBits::Two : StopBits::One;
    return std::nullopt;
}

std::optional<NmeaMask> sentenceBit(std::string_view name) {
    for (const NmeaSentence& sentence : kNmeaSentences) {
        if (std::equal(
                name.begin(), name.end(), sentence.name.begin(), sentence.name.end(),
                [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; })) {
            return sentence.bit;
        }
    }
    return std::nullopt;
}

// An empty list asks for no sentence at all.
Faulty readSentences(const toml::node& value, DeclaredReceiver& table) {
    const toml::array* list = value.as_array();
    if (list == nullptr) {
        return wrongType(value, "sentences",
                         "a list of sentence names, such as [\"GGA\", \"ZDA\"]");
    }
    NmeaMask mask = 0;
    for (const toml::node& item : *list) {
        const std::optional<std::string_view> name = item.value_exact<std::string_view>();
        const std::optional<NmeaMask> bit = name ? sentenceBit(*name) : std::nullopt;
        if (!bit) {
            std::string names;
            for (const NmeaSentence& sentence : kNmeaSentences) {
                names += (names.empty() ? "" : ", ") + std::string(sentence.name);
            }
            return Fault{lineOf(item), "sentences may name only " + names};
        }
        mask |= *bit;
    }
    table.wanted.sentences = mask;
    return std::nullopt;
}

Faulty readSave(const toml::node& value, DeclaredReceiver& table) {
    const std::optional<bool> save = value.value_exact<bool>();
    if (!save) {
        return wrongType(value, "save", "true or false");
    }
    table.save = *save;
    return std::nullopt;
}

bool printable(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isprint(static_cast<unsigned char>(c)) != 0;
    });
}

// What a match key may hold: a by-id link is one name in its folder, a device path stays in /dev.
Faulty readMatch(const toml::node& value, MatchKey key, std::string_view word,
                 DeclaredReceiver& table) {
    if (table.key) {
        return Fault{lineOf(value), "[" + table.name + "] names its receiver twice; keep one of " +
                                        wordList(kMatchKeys)};
    }
    const std::optional<std::string> text = value.value_exact<std::string>();
    if (!text) {
        return wrongType(value, word, "a string");
    }
    const bool byIdName = text->starts_with(kByIdFolder) &&
                          text->find('/', kByIdFolder.size()) == std::string::npos &&
                          text->size() > kByIdFolder.size();
    const bool fine = key == MatchKey::ById     ? byIdName && underDeviceFolder(*text)
                      : key == MatchKey::Device ? underDeviceFolder(*text)
                                                : true;
    if (!fine || !printable(*text)) {
        const std::string_view rule = key == MatchKey::ById     ? "a link in /dev/serial/by-id/"
                                      : key == MatchKey::Device ? "a device path under /dev"
                                                                : "printable text";
        return Fault{lineOf(value),
                     std::string(word) + " \"" + *text + "\" is not " + std::string(rule)};
    }
    table.key = key;
    table.value = *text;
    return std::nullopt;
}

using SettingReader = Faulty (*)(const toml::node&, DeclaredReceiver&);
constexpr std::array<Word<SettingReader>, 6> kSettings{{
    {"baud", readBaud},
    {"parity", readParity},
    {"stop-bits", readStopBits},
    {"format", readFormat},
    {"sentences", readSentences},
    {"save", readSave},
}};

Faulty readKey(std::string_view key, const toml::node& value, bool matched,
               DeclaredReceiver& table) {
    for (const Word<SettingReader>& setting : kSettings) {
        if (key == setting.word) {
            return setting.value(value, table);
        }
    }
    for (const Word<MatchKey>& match : kMatchKeys) {
        if (matched && key == match.word) {
            return readMatch(value, match.value, match.word, table);
        }
    }
    return Fault{lineOf(value), "unknown key " + std::string(key) + " in [" + table.name + "]"};
}

// matched: a receiver's table, which names its receiver; the default table names none.
Faulty readTable(const toml::node& node, const std::string& name, bool matched,
                 DeclaredReceiver& table) {
    table.name = name;
    table.line = lineOf(node);
    const toml::table* keys = node.as_table();
    if (keys == nullptr) {
        return Fault{table.line, name + " must be a table"};
    }
    for (const auto& [key, value] : *keys) {
        if (Faulty fault = readKey(key.str(), value, matched, table)) {
            return fault;
        }
    }
    if (matched && !table.key) {
        return Fault{table.line,
                     "[" + name + "] names no receiver; give one of " + wordList(kMatchKeys)};
    }
    return std::nullopt;
}

// Two tables naming the same receiver the same way; tables that reach one device by different
// names are caught where the devices are matched.
Faulty sameReceiverTwice(const std::vector<DeclaredReceiver>& receivers) {
    for (auto one = receivers.begin(); one != receivers.end(); ++one) {
        for (auto other = receivers.begin(); other != one; ++other) {
            if (one->key == other->key && one->value == other->value) {
                return Fault{one->line, "[" + one->name + "] matches the same receiver as [" +
                                            other->name + "] on line " +
                                            std::to_string(other->line)};
            }
        }
    }
    return std::nullopt;
}

Faulty readReceivers(const toml::node& node, ReceiversFile& file) {
    const toml::table* tables = node.as_table();
    if (tables == nullptr) {
        return Fault{lineOf(node), "receiver must hold tables such as [receiver.roof]"};
    }
    for (const auto& [key, value] : *tables) {
        DeclaredReceiver table;
        if (Faulty fault = readTable(
                value, std::string(kReceiverTables) + "." + std::string(key.str()), true, table)) {
            return fault;
        }
        file.receivers.push_back(std::move(table));
    }
    // In the order of the file, which the messages follow, rather than of the names.
    std::sort(file.receivers.begin(), file.receivers.end(),
              [](const DeclaredReceiver& a, const DeclaredReceiver& b) { return a.line < b.line; });
    return sameReceiverTwice(file.receivers);
}

Faulty readDocument(const toml::table& document, ReceiversFile& file) {
    for (const auto& [key, value] : document) {
        if (key.str() == kReceiverTables) {
            if (Faulty fault = readReceivers(value, file)) {
                return fault;
            }
        } else if (key.str() == kDefaultTable) {
            DeclaredReceiver table;
            if (Faulty fault = readTable(value, std::string(kDefaultTable), false, table)) {
                return fault;
            }
            file.fallback = std::move(table);
        } else {
            return Fault{lineOf(value),
                         "unknown key " + std::string(key.str()) +
                             "; the file holds [receiver.NAME] tables and [default]"};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<ReceiversFile> readReceiversFile(const std::string& path, std::string& problem) {
    ReceiversFile file;
    file.path = path;
    if (std::ifstream readable(path); !readable) {
        problem = path + ": cannot be read: " + std::strerror(errno);
        return std::nullopt;
    }
    // A directory opens as a stream and reads as an empty file.
    if (std::error_code error; !std::filesystem::is_regular_file(path, error)) {
        problem = path + ": not a file";
        return std::nullopt;
    }
    try {
        const toml::table document = toml::parse_file(path);
        if (const Faulty fault = readDocument(document, file)) {
            problem = path + ":" + std::to_string(fault->line) + ": " + fault->what;
            return std::nullopt;
        }
    } catch (const toml::parse_error& error) {
        problem = path + ":" + std::to_string(error.source().begin.line) + ": " +
                  std::string(error.description());
        return std::nullopt;
    }
    return file;
}

}  // namespace kestrune::ctl
