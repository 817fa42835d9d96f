#include "tools/kestrunectl/receiver_report.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "tools/kestrunectl/identity_text.h"
#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kNoReport = "unknown (no report)";

std::string selectionText(const std::optional<NmeaMask>& mask) {
    return mask ? sentencesText(*mask) : kNoReport;
}

std::string aliasesText(const ReceiverReport& report) {
    std::string text;
    for (const std::string& alias : report.aliases.value_or(std::vector<std::string>{})) {
        text += (text.empty() ? " (" : " ") + alias;
    }
    return text.empty() ? text : text + ")";
}

std::string saveWord(SaveOutcome outcome) {
    switch (outcome) {
        case SaveOutcome::Saved:
            return "saved";
        case SaveOutcome::CannotSave:
            return "cannot-save";
        case SaveOutcome::NotConfirmed:
            break;
    }
    return "not-confirmed";
}

}  // namespace

std::string reportText(const ReceiverReport& report) {
    std::string text = report.port + aliasesText(report) + " " + lineText(report.line) + " " +
                       std::string(protocolText(report.protocol)) + "\n";
    if (report.withSentences) {
        text += "sentences: " + selectionText(report.sentences) + "\n";
    }
    if (report.identity) {
        text += identityText(*report.identity);
    }
    if (report.save) {
        text += "save: " + std::string(saveOutcomeText(*report.save)) + "\n";
    }
    return text;
}

std::string reportJson(const ReceiverReport& report) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["port"] = report.port;
    if (report.aliases) {
        json["aliases"] = *report.aliases;
    }
    json["baud"] = report.line.baud;
    json["parity"] = parityWord(report.line.parity);
    json["stopBits"] = stopBitCount(report.line.stopBits);
    json["protocol"] = protocolWord(report.protocol);
    if (report.answersTsip) {
        json["answersTsip"] = *report.answersTsip;
    }
    if (report.withSentences) {
        json["sentences"] = report.sentences
                                ? nlohmann::ordered_json(sentenceNames(*report.sentences))
                                : nlohmann::ordered_json(nullptr);
    }
    if (report.identity) {
        json["identity"] = identityJson(*report.identity);
    }
    if (report.save) {
        json["save"] = saveWord(*report.save);
    }
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kestrune::ctl
