#include "tools/kestrunectl/session.h"

#include <cstdio>

#include "link/port_holder.h"
#include "sim/presets.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/search.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kMessagePrefix = "kestrunectl: ";
constexpr const char* kNothingKnown = "the receiver's settings are not known";

int dispatch(Session& session) {
    switch (session.invocation.command) {
        case Command::Find:
            return runFind(session);
        case Command::Show:
            return runShow(session);
        case Command::Set:
            return runSet(session);
        case Command::Save:
            return runSave(session);
        case Command::Reset:
            return runReset(session);
        case Command::Watch:
        case Command::Ports:
        case Command::Apply:
            break;
    }
    return runWatch(session);
}

// gpsd is asked when it is seen to hold the port (root opens a port gpsd holds without being
// refused, so this is looked at first), or when the port is busy with a holder hidden from this
// user and gpsd's control socket is there.
bool gpsdHolds(const Session& session, bool busy) {
    const std::string& device = session.port.device;
    if (session.invocation.noGpsd || device.empty() || session.gpsd) {
        return false;
    }
    const std::optional<PortHolder> holder = findPortHolder(device);
    if (holder) {
        return holder->name == kGpsdProcessName;
    }
    return busy && gpsdSocketExists(session.invocation.gpsdSocket);
}

// The names gpsd may know the device by: the device itself, and the path given for it.
std::vector<std::string> gpsdNames(const PortChoice& port) {
    std::vector<std::string> names{port.device};
    if (port.shown != port.device && port.shown.starts_with("/dev/")) {
        names.push_back(port.shown);
    }
    return names;
}

// Asks gpsd to let go of the port. Nothing when it did, or when gpsd has no socket or does not
// know the device (the open then goes ahead and says what it finds); else the failed status.
std::optional<int> borrowFromGpsd(Session& session) {
    HandoverOptions options{session.invocation.gpsdSocket,
                            [&session] { return session.interrupts.interrupted(); },
                            [&session](const std::string& text) { reportError(session, text); }};
    session.gpsd = std::make_unique<GpsdHandover>(session.port.device, gpsdNames(session.port),
                                                  std::move(options));
    switch (session.gpsd->state()) {
        case HandoverState::NoAccess:
            reportError(session, gpsdNoAccessText(session.port, session.invocation.gpsdSocket));
            return kExitPortFailed;
        case HandoverState::StillHeld:
        case HandoverState::Failed:
            if (session.interrupts.interrupted()) {
                return interruptedStatus(session);
            }
            reportError(session, gpsdFailureText(session.port, session.invocation.gpsdSocket));
            return kExitPortFailed;
        case HandoverState::NoSocket:
        case HandoverState::Refused:
            // gpsd still reads the line; opening it beside gpsd would garble both.
            if (heldByGpsd(session.port.device)) {
                reportError(session, openFailureText(session.port, OpenError::Busy));
                return kExitPortFailed;
            }
            break;
        case HandoverState::LetGo:
            // Even a second Ctrl-C, which ends the program at once, gives gpsd its device back.
            session.interrupts.setLastWords(
                [handover = session.gpsd.get()] { (void)handover->handBack(); });
            break;
    }
    return std::nullopt;
}

}  // namespace

// Declared in this order so that each outlives what refers to it: the virtual receivers the
// link's ports, the sink the link's reader, the link the stop action.
int runCommand(const Invocation& invocation, const PortChoice& port) {
    SimulatedDevices devices(invocation.timeScale);
    const PortOpener opener = devices.routePortNames();
    SelectionSink selection;
    ReceiverLink link(Timing{}.scaled(invocation.timeScale), opener);
    link.setWindow(&selection);
    InterruptWatcher interrupts;
    interrupts.setAction([&link] { link.cancel(); });
    ProgressLine progress(!invocation.quiet);
    Session session{invocation, port, opener, link, selection, interrupts, progress};
    int status = dispatch(session);
    progress.clear();
    const std::optional<LineSettings> verified = link.verifiedSettings();
    link.close();
    if (session.gpsd && verified) {
        session.gpsd->leaveLineAt(*verified);
    }
    // gpsd left without its device is a fault of its own, whatever the command did.
    const bool handbackFailed = session.gpsd && !session.gpsd->handBack();
    interrupts.setLastWords({});
    session.gpsd.reset();
    interrupts.setAction({});
    if (status != kExitDone && interrupts.interrupted()) {
        status = interruptedStatus(session);
    }
    return handbackFailed && status == kExitDone ? kExitPortFailed : status;
}

void reportError(Session& session, const std::string& text) {
    session.progress.clear();
    std::fprintf(stderr, "%s%s\n", kMessagePrefix, text.c_str());
}

int printReport(Session& session, const ReceiverReport& report) {
    session.progress.clear();
    const std::string text = session.invocation.json ? reportJson(report) : reportText(report);
    return writeOut(text) ? kExitDone : kExitOutputClosed;
}

// SIGPIPE is never taken (see blockStopSignals), so a closed output shows here as an error.
bool writeOut(const std::string& text) {
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

int openPort(Session& session) {
    if (gpsdHolds(session, false)) {
        if (const std::optional<int> status = borrowFromGpsd(session)) {
            return *status;
        }
    }
    session.link.setPortName(session.port.linkName);
    if (session.link.isOpen()) {
        return kExitDone;
    }
    if (session.link.openError() == OpenError::Busy && gpsdHolds(session, true)) {
        if (const std::optional<int> status = borrowFromGpsd(session)) {
            return *status;
        }
        if (session.link.open()) {
            return kExitDone;
        }
    }
    reportError(session, openFailureText(session.port, session.link.openError()));
    return kExitPortFailed;
}

// A probe that finds the port closed (its settings could not be set: the device is going)
// stops the search rather than wait out the probes left.
bool find(Session& session) {
    ReceiverLink& link = session.link;
    SearchOptions options;
    options.onProbe = [&](SearchPass pass, const ProbeProgress& progress) {
        session.progress.probe(pass, progress);
        if (!link.isOpen()) {
            link.cancel();
        }
    };
    const SearchOutcome outcome = findReceiver(link, options);
    if (outcome == SearchOutcome::NotTsip) {
        session.nmeaOnly = link.verifiedSettings();
        link.clearVerified();
    }
    if (outcome != SearchOutcome::Found) {
        return false;
    }
    session.known =
        verifiedState(link.verifiedSettings().value_or(LineSettings{}), link.outputProtocol());
    return true;
}

int failureStatus(Session& session, const std::string& noAnswer) {
    if (session.interrupts.interrupted()) {
        return interruptedStatus(session);
    }
    if (session.link.deviceGone() || !session.link.isOpen()) {
        const std::string known =
            session.known.empty() ? std::string(kNothingKnown) : session.known;
        reportError(session, deviceGoneText(session.port, known));
        return kExitPortFailed;
    }
    reportError(session, noAnswer);
    return kExitNoAnswer;
}

int interruptedStatus(Session& session) {
    session.progress.clear();
    return kExitSignalBase + session.interrupts.signal();
}

}  // namespace kestrune::ctl
