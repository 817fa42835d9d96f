#include "tools/kestrunectl/settings_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "link/port_names.h"

namespace kestrune::ctl {

namespace {

constexpr std::uintmax_t kLargestSettingsFile = 64 * 1024;
constexpr std::string_view kGeneralSection = "[General]";
constexpr std::string_view kPortKey = "Port";
constexpr std::string_view kWhitespace = " \t\r";
constexpr std::string_view kCommentStarts = ";#";
// What the settings writer quotes, escapes or splits a value at.
constexpr std::string_view kReservedInValue = "\"\\,;#";
constexpr char kSectionStart = '[';
constexpr char kSectionEnd = ']';
constexpr char kAssign = '=';

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

// storablePortName holds the value to printable ASCII and its length; the characters the
// settings writer would have quoted or escaped are no value it wrote plainly.
bool plainValue(std::string_view value) {
    return value.find_first_of(kReservedInValue) == std::string_view::npos &&
           storablePortName(value);
}

// Reads the lines of a small regular file; nothing for anything else.
std::optional<std::string> smallFileText(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) > kLargestSettingsFile || error) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(kLargestSettingsFile + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad() || static_cast<std::uintmax_t>(file.gcount()) > kLargestSettingsFile) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

// The one Port value of the General section (keys before any section belong to it too);
// nothing when it is missing, given twice, or the file has a line of another shape.
std::optional<std::string> portValue(std::string_view text) {
    bool inGeneral = true;
    std::optional<std::string> value;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || kCommentStarts.find(line.front()) != std::string_view::npos) {
            continue;
        }
        if (line.front() == kSectionStart && line.back() == kSectionEnd) {
            inGeneral = line == kGeneralSection;
            continue;
        }
        const std::size_t assign = line.find(kAssign);
        if (assign == std::string_view::npos) {
            return std::nullopt;
        }
        if (inGeneral && trimmed(line.substr(0, assign)) == kPortKey) {
            if (value) {
                return std::nullopt;
            }
            value = std::string(trimmed(line.substr(assign + 1)));
        }
    }
    return value;
}

}  // namespace

std::string settingsFilePath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (configHome != nullptr && configHome[0] == '/') {
        folder = configHome;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        folder = std::string(home) + "/.config";
    } else {
        return {};
    }
    return folder + "/Quenterra/Kestrune.conf";
}

std::string settingsFileShown() {
    const std::string path = settingsFilePath();
    return path.empty() ? std::string("the settings file") : path;
}

std::string storedPortName(const std::string& path) {
    const std::optional<std::string> text = smallFileText(path);
    const std::optional<std::string> value = text ? portValue(*text) : std::nullopt;
    return value && plainValue(*value) ? *value : std::string(kDefaultStoredPort);
}

}  // namespace kestrune::ctl
