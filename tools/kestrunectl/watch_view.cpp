#include "tools/kestrunectl/watch_view.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "protocol/nmea_sentence.h"
#include "protocol/stream_framer.h"
#include "protocol/tsip_commands.h"
#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

using Json = nlohmann::ordered_json;

// One '#' per two units of level, up to a level of 60.
constexpr std::int32_t kLevelPerMark = 2;
constexpr std::int32_t kLongestBar = 30;
constexpr int kHexIdLength = 5;  // "0x47" and its end
// Column widths of the screen's tables.
constexpr std::size_t kNameColumn = 10;
constexpr std::size_t kCountColumn = 7;
constexpr std::size_t kPrnColumn = 5;
constexpr const char* kOtherRow = "other";

bool isSentence(std::span<const std::uint8_t> message) {
    return !message.empty() && message.front() == kSentenceStart;
}

std::string textOf(std::span<const std::uint8_t> message) {
    return std::string(message.begin(), message.end());
}

// The text with every byte a terminal could take for a control as '?'.
std::string printableText(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<std::uint8_t>(c);
        c = isPrintableAscii(byte) ? c : '?';
    }
    return shown;
}

bool isSelectable(std::string_view type) {
    return std::any_of(kNmeaSentences.begin(), kNmeaSentences.end(),
                       [type](const NmeaSentence& sentence) { return sentence.name == type; });
}

std::string hexId(std::uint8_t id) {
    std::array<char, kHexIdLength> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", id);
    return text.data();
}

std::string bar(std::int32_t level) {
    return std::string(static_cast<std::size_t>(std::clamp(level / kLevelPerMark, 0, kLongestBar)),
                       '#');
}

std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

}  // namespace

void WatchView::add(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return;
    }
    if (isSentence(message)) {
        protocol_ = OutputProtocol::Nmea;
        const std::string_view type = nmeaSentenceType(message);
        if (!nmeaChecksumHolds(message) || type.empty()) {
            ++damagedSentences_;
            return;
        }
        if (SentenceSeen* seen = sentenceRow(type)) {
            ++seen->count;
            seen->latest = printableText(textOf(message));
        } else {
            ++otherSentences_;
        }
        return;
    }
    protocol_ = OutputProtocol::Tsip;
    if (reports_.size() < kReportRows || reports_.contains(message.front())) {
        ++reports_[message.front()];
    } else {
        ++otherReports_;
    }
    if (message.front() == kIdSignalLevels) {
        const SignalLevels levels = decodeSignalLevels(message.subspan(1));
        levels_.assign(levels.view().begin(), levels.view().end());
    }
}

WatchView::SentenceSeen* WatchView::sentenceRow(std::string_view type) {
    const std::string shown = printableText(type);
    const auto found = sentences_.find(shown);
    if (found != sentences_.end()) {
        return &found->second;
    }
    if (!isSelectable(type)) {
        if (otherSentenceRows_ == kOtherSentenceRows) {
            return nullptr;
        }
        ++otherSentenceRows_;
    }
    return &sentences_[shown];
}

std::string WatchView::screen(const std::string& heading) const {
    std::string text = heading + "\nprotocol: " +
                       (protocol_ ? std::string(protocolText(*protocol_)) : "(nothing yet)") + "\n";
    return text + sentenceLines() + reportLines() + levelLines();
}

std::string WatchView::sentenceLines() const {
    if (sentences_.empty() && damagedSentences_ == 0) {
        return {};
    }
    std::string text =
        padded("\nsentence", kNameColumn + 1) + padded("count", kCountColumn) + "latest\n";
    for (const auto& [type, seen] : sentences_) {
        text += padded(type, kNameColumn) + padded(std::to_string(seen.count), kCountColumn) +
                seen.latest + "\n";
    }
    if (otherSentences_ > 0) {
        text += padded(kOtherRow, kNameColumn) + std::to_string(otherSentences_) + "\n";
    }
    if (damagedSentences_ > 0) {
        text += padded("damaged", kNameColumn) + std::to_string(damagedSentences_) + "\n";
    }
    return text;
}

std::string WatchView::reportLines() const {
    if (reports_.empty()) {
        return {};
    }
    std::string text = padded("\nreport", kNameColumn + 1) + "count\n";
    for (const auto& [id, count] : reports_) {
        text += padded(hexId(id), kNameColumn) + std::to_string(count) + "\n";
    }
    if (otherReports_ > 0) {
        text += padded(kOtherRow, kNameColumn) + std::to_string(otherReports_) + "\n";
    }
    return text;
}

std::string WatchView::levelLines() const {
    if (levels_.empty()) {
        return {};
    }
    std::string text = padded("\nPRN", kPrnColumn + 1) + padded("level", kCountColumn) + "\n";
    for (const SignalLevel& satellite : levels_) {
        text += padded(std::to_string(satellite.prn), kPrnColumn) +
                padded(std::to_string(satellite.level), kCountColumn) + bar(satellite.level) + "\n";
    }
    return text;
}

std::string WatchView::jsonLine(std::span<const std::uint8_t> message) {
    Json json;
    if (isSentence(message)) {
        json = {{"protocol", protocolWord(OutputProtocol::Nmea)},
                {"sentence", nmeaSentenceType(message)},
                {"checksum", nmeaChecksumHolds(message)},
                {"text", textOf(message)}};
    } else if (!message.empty()) {
        json = {{"protocol", protocolWord(OutputProtocol::Tsip)},
                {"id", message.front()},
                {"length", message.size() - 1}};
        if (message.front() == kIdSignalLevels) {
            Json levels = Json::array();
            const SignalLevels decoded = decodeSignalLevels(message.subspan(1));
            for (const SignalLevel& satellite : decoded.view()) {
                levels.push_back({{"prn", satellite.prn}, {"level", satellite.level}});
            }
            json["levels"] = levels;
        }
    }
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kestrune::ctl
