// Everything one run of a command works with, and the steps the commands share: open the port,
// find the receiver, print, and turn a failure into its message and exit status.
#pragma once

#include <memory>
#include <string>

#include "link/gpsd_handover.h"
#include "link/receiver_link.h"
#include "tools/kestrunectl/command_line.h"
#include "tools/kestrunectl/interrupt_watcher.h"
#include "tools/kestrunectl/port_choice.h"
#include "tools/kestrunectl/progress_line.h"
#include "tools/kestrunectl/receiver_report.h"
#include "tools/kestrunectl/selection_sink.h"

namespace kestrune::ctl {

struct Session {
    const Invocation& invocation;
    const PortChoice& port;
    const PortOpener& opener;
    ReceiverLink& link;
    SelectionSink& selection;
    InterruptWatcher& interrupts;
    ProgressLine& progress;
    // What is known of the receiver so far, said if the device goes away; empty: nothing.
    std::string known{};
    // The port borrowed from gpsd, handed back once the port is closed.
    std::unique_ptr<GpsdHandover> gpsd{};
    // The settings of checked sentences from a device that answered no TSIP.
    std::optional<LineSettings> nmeaOnly{};
};

// Sets up the virtual receivers, the link and the stop signals, runs the command and closes the
// port; returns the exit status.
int runCommand(const Invocation& invocation, const PortChoice& port);

// One line on stderr, "kestrunectl: " first, after clearing the progress line.
void reportError(Session& session, const std::string& text);
// kExitDone, or kExitOutputClosed when the output can no longer be written.
int printReport(Session& session, const ReceiverReport& report);
// Writes text to stdout at once; false when the output can no longer be written.
bool writeOut(const std::string& text);

// Opens the port, borrowing it first if gpsd holds it; kExitDone, or the status after saying
// why it would not open.
int openPort(Session& session);
// Both passes of the search, drawing the progress line.
bool find(Session& session);
// The status of a step that failed: interrupted, device gone, or else noAnswer said and 1.
int failureStatus(Session& session, const std::string& noAnswer);
// The interrupted status, once a stop signal has come.
int interruptedStatus(Session& session);

int runFind(Session& session);
int runShow(Session& session);
int runSet(Session& session);
int runSave(Session& session);
int runReset(Session& session);
int runWatch(Session& session);

}  // namespace kestrune::ctl
