#include "link/receiver_procedures.h"

#include <optional>

#include "link/receiver_link.h"
#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConfigAttempts = 8;
constexpr int kNmeaQueryAttempts = 3;

// Answers are checked between slices of the wait when the caller may give up early.
constexpr std::chrono::milliseconds kGiveUpSlice{10};

bool matches(const PortReport& report, const LineSettings& line, AnswerRule rule) {
    switch (rule) {
        case AnswerRule::RateAndParity:
        case AnswerRule::TsipOnly:
            return report.line.baud == line.baud && report.line.parity == line.parity;
        case AnswerRule::WholeLine:
            return report.line == line;
        case AnswerRule::NmeaReport:
            break;
    }
    return false;
}

// The event that carries the answer rule asks for, beside checked sentences.
PulseEvent& answerEvent(ReceiverLink& link, AnswerRule rule) {
    return rule == AnswerRule::NmeaReport ? link.nmeaReportEvent() : link.portReportEvent();
}

std::optional<PortReport> heardAnswer(ReceiverLink& link, WaitResult result,
                                      const LineSettings& line, AnswerRule rule) {
    if (result == WaitResult::Second) {
        return PortReport{line, OutputProtocol::Nmea};
    }
    if (rule == AnswerRule::NmeaReport) {
        return PortReport{line, OutputProtocol::Tsip};
    }
    const std::optional<PortReport> report = link.lastPortReport();
    if (report && matches(*report, line, rule)) {
        return report;
    }
    return std::nullopt;
}

}  // namespace

std::optional<PortReport> awaitAnswer(ReceiverLink& link, const TsipFrame& question,
                                      const LineSettings& line, AnswerRule rule,
                                      std::chrono::milliseconds timeout,
                                      const std::function<bool()>& giveUp) {
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::chrono::milliseconds slice = scaleDelay(kGiveUpSlice, link.timing().factor);
    std::optional<EventWait> reply;
    // Under TsipOnly a sentence is not waited for at all: waking for one and waiting anew could
    // miss a report that followed it at once.
    const auto arm = [&] {
        if (rule == AnswerRule::TsipOnly) {
            reply.emplace(answerEvent(link, rule), &link.cancellation());
        } else {
            reply.emplace(answerEvent(link, rule), link.checkedSentenceEvent(),
                          &link.cancellation());
        }
    };
    arm();
    (void)link.write(question);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        left = std::max(left, std::chrono::milliseconds{0});
        const WaitResult result = reply->wait(giveUp ? std::min(left, slice) : left);
        if (result == WaitResult::Cancelled) {
            return std::nullopt;
        }
        if (result == WaitResult::TimedOut) {
            if (left <= slice || !giveUp || giveUp()) {
                return std::nullopt;
            }
            continue;
        }
        if (const auto answer = heardAnswer(link, result, line, rule)) {
            return answer;
        }
        // Heard, but not the answer: noise, or a report of other settings. Listen on.
        reply.reset();
        arm();
    }
}

// A port report may show two stop bits where one was asked: the port takes them up too, so that
// what it sends matches what the receiver expects.
bool storeAnswer(ReceiverLink& link, const LineSettings& asked, const PortReport& answer) {
    if (answer.line != asked && !link.configurePort(answer.line)) {
        return false;
    }
    link.storeVerified(answer.line);
    link.setOutputProtocol(answer.output);
    return true;
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

bool switchAndVerify(ReceiverLink& link, const LineSettings& line) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    (void)link.configurePort(line);
    const std::optional<PortReport> answer =
        awaitAnswer(link, portConfigQuery(), line, AnswerRule::WholeLine, link.timing().verifyWait);
    return answer && storeAnswer(link, line, *answer);
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
    const std::optional<PortReport> answer = awaitAnswer(
        link, nmeaQuery(), kFactoryLine, AnswerRule::NmeaReport, link.timing().verifyWait);
    if (answer) {
        storeAnswer(link, kFactoryLine, *answer);
    }
    return answer.has_value();
}

bool applySettings(ReceiverLink& link, NotificationSink* window, const ReceiverConfig& config,
                   ApplyFailure* why) {
    ApplyFailure failure = ApplyFailure::None;
    if (!resetReceiver(link, window) || link.cancellation().raised()) {
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
