// find, show, set and reset: each opens the port, runs the procedures and prints what the
// receiver was verified at.
#include <cstdio>

#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/search.h"
#include "tools/kestrunectl/session.h"

namespace kestrune::ctl {

namespace {

// The receiver as the link last verified it.
std::string notFound(const Session& session) {
    return session.nmeaOnly ? notTsipText(session.port, *session.nmeaOnly)
                            : notFoundText(session.port);
}

ReceiverReport verifiedReport(Session& session) {
    return ReceiverReport{session.port.shown,
                          session.link.verifiedSettings().value_or(LineSettings{}),
                          session.link.outputProtocol(),
                          false,
                          std::nullopt,
                          std::nullopt,
                          std::nullopt,
                          std::nullopt};
}

// Prints the receiver with its selection, and with its identity when asked; a selection that
// never came is printed as unknown and fails the command, an identity that never came does not.
int reportWithSelection(Session& session, bool withIdentity = false) {
    std::optional<ReceiverIdentity> identity;
    const std::optional<NmeaMask> selection =
        readSelection(session.link, session.selection, [&session, &identity, withIdentity] {
            if (withIdentity) {
                identity = readIdentity(session.link);
            }
        });
    if (!selection && session.link.cancellation().raised()) {
        return failureStatus(session, noSelectionText(session.port));
    }
    ReceiverReport report = verifiedReport(session);
    report.withSentences = true;
    report.sentences = selection;
    if (withIdentity) {
        report.identity = identity.value_or(ReceiverIdentity{});
    }
    if (const int status = printReport(session, report); status != kExitDone) {
        return status;
    }
    if (!selection) {
        return failureStatus(session, noSelectionText(session.port));
    }
    return kExitDone;
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
            const ReceiverReport report{
                session.port.shown, *session.nmeaOnly, OutputProtocol::Nmea, false,
                std::nullopt,       std::nullopt,      std::nullopt,         false};
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
    session.progress.step("set: reading the sentence selection back");
    return reportWithSelection(session);
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
