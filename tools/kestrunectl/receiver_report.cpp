#include "tools/kestrunectl/receiver_report.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "tools/kestrunectl/identity_text.h"
#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kNoReport = "unknown (no report)";
constexpr const char* kNoSentences = "none";

std::vector<std::string> sentenceNames(NmeaMask mask) {
    std::vector<std::string> names;
    for (const NmeaSentence& sentence : kNmeaSentences) {
        if ((mask & sentence.bit) != 0) {
            names.emplace_back(sentence.name);
        }
    }
    return names;
}

std::string sentencesText(const std::optional<NmeaMask>& mask) {
    if (!mask) {
        return kNoReport;
    }
    std::string text;
    for (const std::string& name : sentenceNames(*mask)) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text.empty() ? kNoSentences : text;
}

}  // namespace

std::string reportText(const ReceiverReport& report) {
    std::string text = report.port + " " + lineText(report.line) + " " +
                       std::string(protocolText(report.protocol)) + "\n";
    if (report.withSentences) {
        text += "sentences: " + sentencesText(report.sentences) + "\n";
    }
    if (report.identity) {
        text += identityText(*report.identity);
    }
    return text;
}

std::string reportJson(const ReceiverReport& report) {
    nlohmann::ordered_json json{
        {"port", report.port},
        {"baud", report.line.baud},
        {"parity", parityWord(report.line.parity)},
        {"stopBits", stopBitCount(report.line.stopBits)},
        {"protocol", protocolWord(report.protocol)},
    };
    if (report.withSentences) {
        json["sentences"] = report.sentences
                                ? nlohmann::ordered_json(sentenceNames(*report.sentences))
                                : nlohmann::ordered_json(nullptr);
    }
    if (report.identity) {
        json["identity"] = identityJson(*report.identity);
    }
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kestrune::ctl
