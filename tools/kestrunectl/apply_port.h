// One port brought to its declared configuration: find the receiver, compare, change only what
// differs, verify, and save when the table asks. A receiver that already matches is sent no
// configuration command, so applying twice changes nothing the second time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/gpsd_handover.h"
#include "link/receiver_link.h"
#include "link/receiver_save.h"
#include "tools/kestrunectl/apply_plan.h"
#include "tools/kestrunectl/selection_sink.h"

namespace kestrune::ctl {

enum class ApplyResult {
    Unchanged,    // the receiver already matched
    Changed,      // it was changed and verified
    WouldChange,  // a dry run: nothing was sent
    NoReceiver,   // nothing answered on the port
    NotOpened,    // the port cannot be opened
    Failed,       // the receiver did not answer or refused at some step
};

// One setting that differs, in the words the file uses.
struct SettingChange {
    std::string setting;  // "baud", "parity", "stop-bits", "format", "sentences"
    std::string from, to;
    bool operator==(const SettingChange&) const = default;
};

struct PortApplication {
    ApplyTarget target;
    ApplyResult result = ApplyResult::NoReceiver;
    // What the receiver was found at; sentences only when the table names them.
    std::optional<ReceiverConfig> found{};
    bool sentencesRead = false;
    std::vector<SettingChange> changes{};
    std::optional<SaveOutcome> save{};
    // Why it failed, or was not saved.
    std::string problem{};
    // The port was borrowed from gpsd, and gpsd did not take it back.
    bool handbackFailed = false;
    // The receiver now sends NMEA, so it cannot answer a save: the save was sent, and its
    // outcome stays unknown without failing the run.
    bool saveUnconfirmable = false;
};

// Runs on the caller's thread; the link's window must be sink. A cancel on the link ends it. With
// gpsd options, a port gpsd holds is borrowed from it for the run and handed back after.
PortApplication applyToPort(ReceiverLink& link, SelectionSink& sink, const ApplyTarget& target,
                            bool dryRun, const std::optional<HandoverOptions>& gpsd = std::nullopt);

// 0 when the port ends as declared (or has nothing on it and only the default table matched), 1
// when the receiver did not answer, refused or did not save, 3 when the port would not open.
int applyStatus(const PortApplication& application);

}  // namespace kestrune::ctl
