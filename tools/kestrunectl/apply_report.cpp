#include "tools/kestrunectl/apply_report.h"

#include <nlohmann/json.hpp>

#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

using Json = nlohmann::ordered_json;

std::string_view resultWord(ApplyResult result) {
    switch (result) {
        case ApplyResult::Unchanged:
            return "unchanged";
        case ApplyResult::Changed:
            return "changed";
        case ApplyResult::WouldChange:
            return "would change";
        case ApplyResult::NoReceiver:
            return "no receiver";
        case ApplyResult::NotOpened:
            return "not opened";
        case ApplyResult::Failed:
            break;
    }
    return "failed";
}

std::string foundText(const PortApplication& application) {
    const ReceiverConfig& found = *application.found;
    std::string text = lineText(found.line) + " " + std::string(protocolText(found.protocol));
    if (application.sentencesRead) {
        text += ", sentences " + sentencesText(found.sentences);
    }
    return text;
}

std::string changesText(const PortApplication& application) {
    std::string text;
    for (const SettingChange& change : application.changes) {
        text +=
            (text.empty() ? " " : ", ") + change.setting + " " + change.from + " -> " + change.to;
    }
    return text;
}

bool saved(const PortApplication& application) {
    return application.save == SaveOutcome::Saved;
}

}  // namespace

std::string applicationText(const PortApplication& application) {
    std::string text =
        application.target.port.device + " [" + application.target.table.name + "]: ";
    if (application.found) {
        text += foundText(application) + "; ";
    }
    text += std::string(resultWord(application.result));
    if (application.result == ApplyResult::Changed ||
        application.result == ApplyResult::WouldChange) {
        text += changesText(application);
    }
    if (saved(application)) {
        text += "; saved";
    }
    if (!application.problem.empty()) {
        text += "; " + application.problem;
    }
    return text + "\n";
}

std::string applicationJson(const PortApplication& application) {
    Json json = Json::object();
    json["device"] = application.target.port.device;
    json["table"] = application.target.table.name;
    json["result"] = resultWord(application.result);
    json["found"] = nullptr;
    if (application.found) {
        const ReceiverConfig& found = *application.found;
        json["found"] = Json{{"baud", found.line.baud},
                             {"parity", parityWord(found.line.parity)},
                             {"stopBits", stopBitCount(found.line.stopBits)},
                             {"protocol", protocolWord(found.protocol)}};
        json["found"]["sentences"] =
            application.sentencesRead ? Json(sentenceNames(found.sentences)) : Json(nullptr);
    }
    json["changes"] = Json::array();
    for (const SettingChange& change : application.changes) {
        json["changes"].push_back(
            Json{{"setting", change.setting}, {"from", change.from}, {"to", change.to}});
    }
    json["saved"] = saved(application);
    if (!application.problem.empty()) {
        json["problem"] = application.problem;
    }
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kestrune::ctl
