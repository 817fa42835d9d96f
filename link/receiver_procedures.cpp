#include "link/receiver_procedures.h"

#include <optional>

#include "link/receiver_link.h"
#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConfigAttempts = 8;
constexpr int kNmeaQueryAttempts = 3;
constexpr std::array<Parity, 2> kProbedParities{Parity::Odd, Parity::None};

// A port report's frame: DLE, ID, ten data bytes, DLE, ETX.
constexpr std::size_t kPortReportFrameBytes = 14;
constexpr double kMillisecondsPerSecond = 1000.0;

constexpr std::array<LineSettings, kProbeCount> makeProbeOrder() {
    std::array<LineSettings, kProbeCount> order{};
    std::size_t next = 0;
    for (auto rate = kBaudRates.rbegin(); rate != kBaudRates.rend(); ++rate) {
        for (const Parity parity : kProbedParities) {
            order[next++] = LineSettings{rate->baud, parity, StopBits::One};
        }
    }
    return order;
}
constexpr std::array<LineSettings, kProbeCount> kProbeOrder = makeProbeOrder();

// How long the query and a full port report take on the line at these settings.
std::chrono::milliseconds lineTime(const LineSettings& line, double factor) {
    const std::size_t bytes = portConfigQuery().length + kPortReportFrameBytes;
    const double seconds = static_cast<double>(bytes * bitsPerByte(line)) / line.baud;
    return std::chrono::milliseconds(
        static_cast<std::chrono::milliseconds::rep>(seconds * kMillisecondsPerSecond * factor) + 1);
}

// Writes a command and waits for any answer on the reply event; the wait is armed first so a
// fast reply is not missed.
bool askAndWaitForReply(ReceiverLink& link, const TsipFrame& command,
                        std::chrono::milliseconds timeout) {
    EventWait reply(link.replyEvent(), &link.cancellation());
    (void)link.write(command);
    return reply.wait(timeout) == WaitResult::First;
}

// Waits until a port report of the probed settings or a checked sentence arrives; anything else
// at these settings is noise and the wait goes on.
bool askAndWaitForCheckedReply(ReceiverLink& link, const LineSettings& probe,
                               std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::optional<EventWait> reply;
    reply.emplace(link.portReportEvent(), link.checkedSentenceEvent(), &link.cancellation());
    (void)link.write(portConfigQuery());
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        switch (reply->wait(std::max(left, std::chrono::milliseconds{0}))) {
            case WaitResult::Second:
                return true;
            case WaitResult::First: {
                const std::optional<PortReport> report = link.lastPortReport();
                if (report && report->line.baud == probe.baud &&
                    report->line.parity == probe.parity) {
                    return true;
                }
                break;
            }
            case WaitResult::Cancelled:
            case WaitResult::TimedOut:
                return false;
        }
        reply.reset();
        reply.emplace(link.portReportEvent(), link.checkedSentenceEvent(), &link.cancellation());
    }
}

bool probe(ReceiverLink& link, const LineSettings& line, const SearchPass& pass) {
    // A failure closes the link; the probe then simply draws no answer.
    (void)link.configurePort(line);
    const std::chrono::milliseconds wait =
        pass.quick ? lineTime(line, link.timing().factor) + link.timing().quickProbeMargin
                   : link.timing().probeWait;
    if (pass.rule == ProbeRule::CheckedReply) {
        return askAndWaitForCheckedReply(link, line, wait);
    }
    return askAndWaitForReply(link, portConfigQuery(), wait);
}

}  // namespace

const std::array<LineSettings, kProbeCount>& probeOrder() {
    return kProbeOrder;
}

bool sendPortConfigWithRetry(ReceiverLink& link, const LineSettings& line, OutputProtocol output) {
    const TsipFrame command = portConfig(line, output);
    for (int attempt = 0; attempt < kConfigAttempts && !link.cancellation().raised(); ++attempt) {
        EventWait rejection(link.rejectEvent(), &link.cancellation());
        (void)link.write(command);
        if (rejection.wait(link.timing().rejectWait) == WaitResult::TimedOut) {
            return true;
        }
    }
    return false;
}

bool queryNmeaSettings(ReceiverLink& link) {
    for (int attempt = 0; attempt < kNmeaQueryAttempts && !link.cancellation().raised();
         ++attempt) {
        EventWait report(link.nmeaReportEvent(), link.rejectEvent(), &link.cancellation());
        (void)link.write(nmeaQuery());
        if (report.wait(link.timing().nmeaReportWait) == WaitResult::First) {
            return true;
        }
    }
    return false;
}

bool searchReceiver(ReceiverLink& link, const SearchPass& pass) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    for (std::size_t i = 0; i < kProbeOrder.size() && !link.cancellation().raised(); ++i) {
        if (pass.onProbe) {
            pass.onProbe(ProbeProgress{kProbeOrder[i], i + 1});
        }
        if (probe(link, kProbeOrder[i], pass)) {
            link.storeVerified(kProbeOrder[i]);
            return true;
        }
    }
    return false;
}

void requestNmeaSelection(ReceiverLink& link, const std::function<void()>& whileTsip) {
    const std::optional<LineSettings> line = link.verifiedSettings();
    if (!line) {
        return;
    }
    if (link.outputProtocol() != OutputProtocol::Nmea) {
        (void)link.write(nmeaQuery());  // the report reaches the window later
        if (whileTsip) {
            whileTsip();
        }
        return;
    }
    // The selection comes only as a TSIP report, so switch to TSIP to ask, then back. The report
    // leaves the link believing TSIP; once the receiver has taken the switch back, it is NMEA
    // again whether or not a sentence has arrived yet.
    (void)sendPortConfigWithRetry(link, *line, OutputProtocol::Tsip);
    (void)queryNmeaSettings(link);
    if (whileTsip) {
        whileTsip();
    }
    if (sendPortConfigWithRetry(link, *line, OutputProtocol::Nmea)) {
        link.setOutputProtocol(OutputProtocol::Nmea);
    }
}

bool readReceiverSettings(ReceiverLink& link, NotificationSink* window) {
    link.setWindow(window);
    if (!searchReceiver(link)) {
        return false;
    }
    requestNmeaSelection(link);
    if (link.cancellation().raised()) {
        link.clearVerified();
        return false;
    }
    return true;
}

bool switchAndVerify(ReceiverLink& link, const LineSettings& line) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    (void)link.configurePort(line);
    if (!askAndWaitForReply(link, portConfigQuery(), link.timing().verifyWait)) {
        return false;
    }
    link.storeVerified(line);
    return true;
}

bool resetReceiver(ReceiverLink& link, NotificationSink* window) {
    link.setWindow(window);
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    // A failed configurePort has closed the link; the sequence still runs its course and the
    // wait below then draws no answer.
    (void)link.configurePort(kFactoryLine);
    (void)link.setBreak(true);
    const bool broke = link.cancellation().sleepFor(link.timing().breakLength);
    (void)link.setBreak(false);
    if (!broke || !link.cancellation().sleepFor(link.timing().breakQuiet)) {
        return false;
    }
    (void)sendPortConfigWithRetry(link, kFactoryLine, OutputProtocol::Tsip);
    if (!askAndWaitForReply(link, nmeaQuery(), link.timing().verifyWait)) {
        return false;
    }
    link.storeVerified(kFactoryLine);
    return true;
}

bool applySettings(ReceiverLink& link, NotificationSink* window, const ReceiverConfig& config,
                   ApplyFailure* why) {
    ApplyFailure failure = ApplyFailure::None;
    if (!resetReceiver(link, window)) {
        failure = ApplyFailure::Reset;
    } else {
        const bool accepted = sendPortConfigWithRetry(link, config.line, config.protocol);
        if (!link.cancellation().sleepFor(link.timing().settle) ||
            !switchAndVerify(link, config.line)) {
            failure = accepted ? ApplyFailure::NoAnswerAtNewSettings : ApplyFailure::Rejected;
        } else {
            (void)link.write(nmeaConfig(config.sentences));
        }
    }
    if (why != nullptr) {
        *why = failure;
    }
    return failure == ApplyFailure::None;
}

}  // namespace kestrune
