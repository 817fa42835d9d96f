// watch: reads the port itself, through its own framer, because the link's reader keeps
// sentences to itself. It never changes the receiver's settings; given --baud and --parity it
// does not send a byte.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "protocol/stream_framer.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/line_text.h"
#include "tools/kestrunectl/session.h"
#include "tools/kestrunectl/watch_view.h"

namespace kestrune::ctl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kScreenRefresh{1000};
// How long one read waits for a byte, so that a quiet line still redraws on time.
constexpr std::chrono::milliseconds kReadTick{100};
// Cursor home, then erase to the end of the screen.
constexpr const char* kRedrawScreen = "\x1b[H\x1b[J";

// The settings to listen at: as given, or where the search finds the receiver (the link is then
// closed, so that the port can be read here).
std::optional<LineSettings> watchedLine(Session& session, int& status) {
    if (session.invocation.listenAt) {
        return session.invocation.listenAt;
    }
    status = openPort(session);
    if (status != kExitDone) {
        return std::nullopt;
    }
    if (!find(session)) {
        status = failureStatus(session, notFoundText(session.port));
        return std::nullopt;
    }
    const std::optional<LineSettings> line = session.link.verifiedSettings();
    session.progress.clear();
    session.link.close();
    return line;
}

std::unique_ptr<SerialPort> openWatchedPort(Session& session, const LineSettings& line,
                                            int& status) {
    OpenResult opened = session.opener(session.port.linkName);
    if (opened.port == nullptr) {
        reportError(session, openFailureText(session.port, opened.error));
        status = kExitPortFailed;
        return nullptr;
    }
    if (!opened.port->setLineSettings(line) || !opened.port->setReadCeiling(kReadTick)) {
        reportError(session, deviceGoneText(session.port));
        status = kExitPortFailed;
        return nullptr;
    }
    return std::move(opened.port);
}

// Reads until a stop signal; the stop action cuts the read short.
int readUntilStopped(Session& session, SerialPort& port, const std::string& heading) {
    const bool toScreen = !session.invocation.json && ::isatty(STDOUT_FILENO) != 0;
    WatchView view;
    StreamFramer framer;
    Clock::time_point nextDraw = Clock::now();
    while (!session.interrupts.interrupted()) {
        std::uint8_t byte = 0;
        const ReadResult read = port.readByte(byte);
        if (read == ReadResult::Failed) {
            reportError(session, deviceGoneText(session.port));
            return kExitPortFailed;
        }
        const auto message = read == ReadResult::Byte ? framer.feed(byte) : std::nullopt;
        bool written = true;
        if (message && toScreen) {
            view.add(*message);
        } else if (message) {
            written = writeOut(WatchView::jsonLine(*message));
        }
        if (toScreen && Clock::now() >= nextDraw) {
            written = writeOut(kRedrawScreen + view.screen(heading));
            nextDraw = Clock::now() + kScreenRefresh;
        }
        if (!written) {
            return kExitOutputClosed;
        }
    }
    return interruptedStatus(session);
}

}  // namespace

int runWatch(Session& session) {
    int status = kExitDone;
    const std::optional<LineSettings> line = watchedLine(session, status);
    if (!line) {
        return status;
    }
    const std::unique_ptr<SerialPort> port = openWatchedPort(session, *line, status);
    if (port == nullptr) {
        return status;
    }
    ReceiverLink& link = session.link;
    SerialPort& watched = *port;
    session.interrupts.setAction([&link, &watched] {
        link.cancel();
        watched.stopReading();
    });
    const std::string heading =
        "kestrunectl watch: " + session.port.shown + " at " + lineText(*line) + " (Ctrl-C to stop)";
    status = readUntilStopped(session, *port, heading);
    session.interrupts.setAction([&link] { link.cancel(); });
    return status;
}

}  // namespace kestrune::ctl
