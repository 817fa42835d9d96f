// find, show, set, save and reset: each opens the port, runs the procedures and prints what the
// receiver was verified at.
#include <cstdio>

#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/search.h"
#include "tools/kestrunectl/session.h"

namespace kestrune::ctl {

namespace {

// Why nothing was found: no answer at all, or NMEA from a device that answers no TSIP.
std::string notFound(const Session& session) {
    return session.nmeaOnly ? notTsipText(session.port, *session.nmeaOnly)
                            : notFoundText(session.port);
}

ReceiverReport verifiedReport(Session& session) {
    return ctl::verifiedReport(session.link, session.port.shown);
}

// A save that did not take is said on stderr too, and fails the command.
int saveStatus(Session& session, SaveOutcome saved) {
    if (saved == SaveOutcome::Saved) {
        return kExitDone;
    }
    return failureStatus(session, saveFailureText(session.port, saved));
}

// Prints the receiver with its selection, and with its identity when asked; a selection that
// never came is printed as unknown and fails the command, an identity that never came does not.
int reportWithSelection(Session& session, bool withIdentity = false,
                        std::optional<SaveOutcome> saved = std::nullopt) {
    ReceiverReport report =
        shownReport(session.link, session.selection, session.port.shown, withIdentity);
    if (!report.sentences && session.link.cancellation().raised()) {
        return failureStatus(session, noSelectionText(session.port));
    }
    report.save = saved;
    if (const int status = printReport(session, report); status != kExitDone) {
        return status;
    }
    if (!report.sentences) {
        return failureStatus(session, noSelectionText(session.port));
    }
    return saved ? saveStatus(session, *saved) : kExitDone;
}

// The request, with what it leaves out taken from the receiver; nothing when the receiver
// could not be found or did not report its selection (the status is then in status).
std::optional<ReceiverConfig> completedConfig(Session& session, int& status) {
    const SetRequest& request = session.invocation.set;
    if (request.complete()) {
        return ReceiverConfig{{*request.baud, *request.parity, *request.stopBits},
                              *request.protocol,
                              *request.sentences};
    }
    if (!find(session)) {
        status = failureStatus(session, notFound(session));
        return std::nullopt;
    }
    std::optional<NmeaMask> sentences = request.sentences;
    if (!sentences) {
        session.progress.step("set: reading the sentence selection");
        sentences = readSelection(session.link, session.selection);
    }
    if (!sentences) {
        status = failureStatus(session, noSelectionText(session.port));
        return std::nullopt;
    }
    const LineSettings current = session.link.verifiedSettings().value_or(LineSettings{});
    return ReceiverConfig{
        {request.baud.value_or(current.baud), request.parity.value_or(current.parity),
         request.stopBits.value_or(current.stopBits)},
        request.protocol.value_or(session.link.outputProtocol()),
        *sentences};
}

}  // namespace

int runFind(Session& session) {
    if (const int status = openPort(session); status != kExitDone) {
        return status;
    }
    if (!find(session)) {
        if (session.nmeaOnly && session.invocation.json && !session.interrupts.interrupted()) {
            ReceiverReport report;
            report.port = session.port.shown;
            report.line = *session.nmeaOnly;
            report.protocol = OutputProtocol::Nmea;
            report.answersTsip = false;
            (void)printReport(session, report);
        }
        return failureStatus(session, notFound(session));
    }
    ReceiverReport report = verifiedReport(session);
    report.answersTsip = true;
    return printReport(session, report);
}

int runShow(Session& session) {
    if (const int status = openPort(session); status != kExitDone) {
        return status;
    }
    if (!find(session)) {
        return failureStatus(session, notFound(session));
    }
    session.progress.step("show: reading the sentence selection and identity");
    return reportWithSelection(session, true);
}

// The selection is read back at the settings just verified: a second search would not find a
// receiver set to even parity.
int runSet(Session& session) {
    if (const int status = openPort(session); status != kExitDone) {
        return status;
    }
    int status = kExitDone;
    const std::optional<ReceiverConfig> config = completedConfig(session, status);
    if (!config) {
        return status;
    }
    if (config->line.parity == Parity::Even) {
        reportError(session, evenParityWarning(config->line));
    }
    session.progress.step("set: applying " + lineText(config->line) + " " +
                          std::string(protocolText(config->protocol)));
    session.known = applyingState(session.known, *config);
    ApplyFailure why = ApplyFailure::None;
    if (!applySettings(session.link, &session.selection, *config, &why)) {
        const bool cut =
            session.interrupts.interrupted() || session.link.deviceGone() || !session.link.isOpen();
        if (cut && why != ApplyFailure::Reset) {
            reportError(session, interruptedApplyText(session.port, *config));
        }
        return failureStatus(session, applyFailureText(session.port, why, *config));
    }
    session.link.setOutputProtocol(config->protocol);
    session.known = verifiedState(config->line, config->protocol);
    std::optional<SaveOutcome> saved;
    if (session.invocation.save) {
        session.progress.step("set: saving in the receiver");
        saved = saveConfiguration(session.link);
    }
    session.progress.step("set: reading the sentence selection back");
    return reportWithSelection(session, false, saved);
}

int runSave(Session& session) {
    if (const int status = openPort(session); status != kExitDone) {
        return status;
    }
    if (!find(session)) {
        return failureStatus(session, notFoundText(session.port));
    }
    session.progress.step("save: asking the receiver to keep its settings");
    const SaveOutcome saved = saveConfiguration(session.link);
    if (saved == SaveOutcome::NotConfirmed && session.link.cancellation().raised()) {
        return failureStatus(session, saveFailureText(session.port, saved));
    }
    ReceiverReport report = verifiedReport(session);
    report.save = saved;
    if (const int status = printReport(session, report); status != kExitDone) {
        return status;
    }
    return saveStatus(session, saved);
}

int runReset(Session& session) {
    if (const int status = openPort(session); status != kExitDone) {
        return status;
    }
    session.progress.step("reset: line break, then " + lineText(kFactoryLine));
    session.known = resettingState();
    if (!resetReceiver(session.link, &session.selection)) {
        return failureStatus(session, resetFailureText(session.port));
    }
    ReceiverReport report = verifiedReport(session);
    report.protocol = OutputProtocol::Tsip;
    return printReport(session, report);
}

}  // namespace kestrune::ctl
