// What find, show, set and reset print: one line of text per fact, or one JSON object.
//   SIM2 4800 8N1 NMEA                {"port": "SIM2", "baud": 4800, "parity": "none",
//   sentences: GGA,GLL,RMC             "stopBits": 1, "protocol": "nmea",
//   save: saved in the receiver        "sentences": ["GGA", "GLL", "RMC"], "save": "saved"}
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/receiver_identity.h"
#include "link/receiver_save.h"
#include "protocol/receiver_settings.h"

namespace kestrune::ctl {

struct ReceiverReport {
    std::string port;
    LineSettings line;
    OutputProtocol protocol = OutputProtocol::Tsip;
    // show and set report the sentence selection; nothing inside means it never came.
    bool withSentences = false;
    std::optional<NmeaMask> sentences;
    // show adds who the receiver is (tools/kestrunectl/identity_text.h).
    std::optional<ReceiverIdentity> identity;
    // find --all and show --all name the port's stable links too: "aliases" in JSON, and in
    // brackets after the port in text.
    std::optional<std::vector<std::string>> aliases;
    // save and set --save: how the receiver answered the save, "save: ..." in text and
    // "save": "saved", "cannot-save" or "not-confirmed" in JSON.
    std::optional<SaveOutcome> save;
    // find says whether the device answered TSIP: "answersTsip" in JSON.
    std::optional<bool> answersTsip;
};

std::string reportText(const ReceiverReport& report);
// One line of JSON; a selection that never came is null.
std::string reportJson(const ReceiverReport& report);

}  // namespace kestrune::ctl
