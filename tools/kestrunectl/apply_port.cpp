#include "tools/kestrunectl/apply_port.h"

#include <filesystem>
#include <memory>

#include "link/receiver_search.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/port_listing.h"
#include "tools/kestrunectl/search.h"

namespace kestrune::ctl {

namespace {

// The declared configuration, with what the table leaves out taken from the receiver.
ReceiverConfig wantedConfig(const SetRequest& wanted, const ReceiverConfig& found) {
    return ReceiverConfig{
        {wanted.baud.value_or(found.line.baud), wanted.parity.value_or(found.line.parity),
         wanted.stopBits.value_or(found.line.stopBits)},
        wanted.protocol.value_or(found.protocol),
        wanted.sentences.value_or(found.sentences)};
}

// sentencesKnown: the selection was read, or the table leaves it out; a declared selection that
// could not be read counts as differing.
std::vector<SettingChange> differences(const ReceiverConfig& found, const ReceiverConfig& wanted,
                                       bool sentencesKnown) {
    std::vector<SettingChange> changes;
    const auto note = [&changes](bool differs, const char* setting, std::string from,
                                 std::string to) {
        if (differs) {
            changes.push_back(SettingChange{setting, std::move(from), std::move(to)});
        }
    };
    note(found.line.baud != wanted.line.baud, "baud", std::to_string(found.line.baud),
         std::to_string(wanted.line.baud));
    note(found.line.parity != wanted.line.parity, "parity",
         std::string(parityWord(found.line.parity)), std::string(parityWord(wanted.line.parity)));
    note(found.line.stopBits != wanted.line.stopBits, "stop-bits",
         std::to_string(stopBitCount(found.line.stopBits)),
         std::to_string(stopBitCount(wanted.line.stopBits)));
    note(found.protocol != wanted.protocol, "format", std::string(protocolWord(found.protocol)),
         std::string(protocolWord(wanted.protocol)));
    note(!sentencesKnown || found.sentences != wanted.sentences, "sentences",
         sentencesKnown ? sentencesText(found.sentences) : "unknown",
         sentencesText(wanted.sentences));
    return changes;
}

// Where the port is opened for apply. A port gpsd holds was asked back from gpsd just before, so
// its holder as listed is no longer in the way; any other held port is left alone, as find --all
// leaves it. Empty when the link is open, else why not.
std::string openForApply(ReceiverLink& link, ListedPort port, bool borrowed) {
    if (borrowed) {
        port.holder.reset();
    }
    const PortChoice choice{port.device, port.device, port.device};
    // An asked device that is not there is not a matter of permissions.
    if (std::error_code error; !std::filesystem::exists(port.device, error)) {
        return openFailureText(choice, OpenError::NoSuchDevice);
    }
    if (!searchable(port)) {
        return port.device + ": " + portState(port);
    }
    link.setPortName(port.device);
    return link.isOpen() ? std::string{} : openFailureText(choice, link.openError());
}

// The port configuration first, when the line or the format differ, then the selection, which
// the receiver takes in either format; each is read back where it went.
bool change(ReceiverLink& link, SelectionSink& sink, const PortApplication& application,
            const ReceiverConfig& wanted, std::string& problem) {
    const ReceiverConfig& found = *application.found;
    if (found.line != wanted.line || found.protocol != wanted.protocol) {
        if (!sendPortConfigWithRetry(link, wanted.line, wanted.protocol)) {
            problem = "the receiver refused " + lineText(wanted.line) + " " +
                      std::string(protocolText(wanted.protocol));
            return false;
        }
        if (!link.cancellation().sleepFor(link.timing().settle) ||
            !switchAndVerify(link, wanted.line)) {
            problem = "the receiver did not answer at " + lineText(wanted.line);
            return false;
        }
        link.setOutputProtocol(wanted.protocol);
    }
    const bool declared = application.target.table.wanted.sentences.has_value();
    if (declared && (!application.sentencesRead || found.sentences != wanted.sentences)) {
        (void)link.write(nmeaConfig(wanted.sentences));
        sink.forget();
        if (readSelection(link, sink) != wanted.sentences) {
            problem = "the receiver did not take the sentences " + sentencesText(wanted.sentences);
            return false;
        }
    }
    return true;
}

void settle(ReceiverLink& link, SelectionSink& sink, PortApplication& application, bool dryRun) {
    const SetRequest& wanted = application.target.table.wanted;
    application.found =
        ReceiverConfig{link.verifiedSettings().value_or(LineSettings{}), link.outputProtocol(), 0};
    // An NMEA receiver tells its selection only in TSIP, and the switch there and back is
    // itself a configuration command: a dry run does not send it, and a receiver whose port
    // configuration changes anyway is given the declared selection unread.
    const ReceiverConfig& found = *application.found;
    const ReceiverConfig port = wantedConfig(wanted, found);
    const bool portChanges = port.line != found.line || port.protocol != found.protocol;
    const bool tsip = found.protocol == OutputProtocol::Tsip;
    if (wanted.sentences && (tsip || (!dryRun && !portChanges))) {
        const std::optional<NmeaMask> selection = readSelection(link, sink);
        if (!selection) {
            application.result = ApplyResult::Failed;
            application.problem = "the receiver did not report its sentences";
            return;
        }
        application.found->sentences = *selection;
        application.sentencesRead = true;
    }
    const ReceiverConfig target = wantedConfig(wanted, *application.found);
    application.changes =
        differences(*application.found, target, application.sentencesRead || !wanted.sentences);
    if (application.changes.empty()) {
        application.result = ApplyResult::Unchanged;
        return;
    }
    if (dryRun) {
        application.result = ApplyResult::WouldChange;
        return;
    }
    if (!change(link, sink, application, target, application.problem)) {
        application.result = ApplyResult::Failed;
        return;
    }
    application.result = ApplyResult::Changed;
    if (application.target.table.save) {
        application.save = saveConfiguration(link);
        application.saveUnconfirmable = *application.save == SaveOutcome::NotConfirmed &&
                                        target.protocol == OutputProtocol::Nmea;
        if (application.saveUnconfirmable) {
            application.problem = "save sent; a receiver sending NMEA cannot confirm it";
        } else if (*application.save != SaveOutcome::Saved) {
            application.problem = "not saved: " + std::string(saveOutcomeText(*application.save));
        }
    }
}

}  // namespace

PortApplication applyToPort(ReceiverLink& link, SelectionSink& sink, const ApplyTarget& target,
                            bool dryRun, const std::optional<HandoverOptions>& gpsd) {
    PortApplication application{target};
    link.setWindow(&sink);
    // Destroyed after the link closes the port: gpsd gets the device back at the settings the
    // receiver was last verified at.
    std::unique_ptr<GpsdHandover> handover;
    if (gpsd && heldByGpsd(target.port.device)) {
        // gpsd may have been given the device by any of its links.
        std::vector<std::string> names{target.port.device};
        names.insert(names.end(), target.port.aliases.begin(), target.port.aliases.end());
        handover = std::make_unique<GpsdHandover>(target.port.device, std::move(names), *gpsd);
        if (!handover->letGo()) {
            application.result = ApplyResult::NotOpened;
            application.problem = target.port.device + ": held by gpsd, which did not let go of it";
            return application;
        }
    }
    application.problem = openForApply(link, target.port, handover != nullptr);
    if (!application.problem.empty()) {
        application.result = ApplyResult::NotOpened;
        return application;
    }
    SearchOptions options;
    options.fullPassWhenSilent = !target.byDefault;
    // A table that names the device says it is a receiver, so a dry run and an unchanged run
    // send nothing; a port only the default table reaches may hold any NMEA talker.
    options.confirmNmea = target.byDefault;
    if (findReceiver(link, options) == SearchOutcome::Found) {
        settle(link, sink, application, dryRun);
    } else {
        application.problem = "no receiver answered";
    }
    if (link.deviceGone()) {
        application.result = ApplyResult::NotOpened;
        application.problem = target.port.device + ": the device went away";
    }
    const std::optional<LineSettings> verified = link.verifiedSettings();
    link.close();
    if (handover && verified) {
        handover->leaveLineAt(*verified);
    }
    if (handover && !handover->handBack()) {
        application.handbackFailed = true;
    }
    return application;
}

int applyStatus(const PortApplication& application) {
    if (application.handbackFailed) {
        return kExitPortFailed;
    }
    switch (application.result) {
        case ApplyResult::Unchanged:
        case ApplyResult::WouldChange:
            return kExitDone;
        case ApplyResult::Changed:
            return application.save && *application.save != SaveOutcome::Saved &&
                           !application.saveUnconfirmable
                       ? kExitNoAnswer
                       : kExitDone;
        case ApplyResult::NoReceiver:
            return application.target.byDefault ? kExitDone : kExitNoAnswer;
        case ApplyResult::NotOpened:
            return application.target.byDefault ? kExitDone : kExitPortFailed;
        case ApplyResult::Failed:
            break;
    }
    return kExitNoAnswer;
}

}  // namespace kestrune::ctl
