// The quick pass asks at each setting in turn and waits only for the question and a reply to
// cross the line. That finds a TSIP receiver, which answers at once; a receiver sending NMEA
// never answers and speaks only once per output interval, so the quick pass also reads what it
// hears at each setting (see classify) and follows it:
//   - a framed message: the sender is heard whole; ask again and listen on, as an answer may
//     queue behind the receiver's own reports. That costs more than a plain probe and moves
//     nowhere, so it waits until every setting has had its plain probe: a receiver that answers
//     at once is then found by its own probe, however many settings before it carry framed
//     traffic of other devices, and a setting is asked again only once;
//   - text: the rate is right; listen on for a sentence whose checksum holds (a port that starts
//     in the middle of a stream finds the characters' start bits at the next pause), then try
//     the other parity;
//   - a slower sender whose inner runs show the ratio: go to the rate that ratio below; when no
//     inner run shows it, one rate down, where the runs are half as long;
//   - neither: the sender talks at this rate with the other parity (whose characters a UART
//     misreads from the first wrong parity bit on), or faster: try the other parity, then the
//     fastest rate, where the next burst shows its ratio; a setting heard out already was acted
//     on, so what points at it again is noise.
// Every lead is only a place to listen: what finds the receiver is still its own answer there.
// Following is bounded in all, so that noise at every setting costs little more than the plain
// probes, and the full pass, which waits long at every setting, then still ends in time.
#include "link/receiver_search.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

#include "link/heard_tally.h"
#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<Parity, 2> kProbedParities{Parity::Odd, Parity::None};

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

// A port report's frame: DLE, ID, ten data bytes, DLE, ETX.
constexpr std::size_t kPortReportFrameBytes = 14;
// The longest sentence, twice: one may be under way when listening starts.
constexpr std::size_t kSentenceBytes = 2 * 82;
// A receiver slots its answer behind the report under way, or, when that one ends before the
// answer is ready, behind the next: a third framed message without the answer says none is coming.
constexpr std::uint32_t kMessagesPastAnswer = 3;
// Times one setting is followed as a lead at most, so that a stream that keeps pointing about
// ends the pass.
constexpr std::uint8_t kMostLeadsPerSetting = 2;
// All the time the quick pass spends beyond its plain probes: two leads of a second's listening
// each, which is what a receiver sending once a second needs (one lead to its rate, one to its
// parity), with room for the steps down to a slow rate.
constexpr std::chrono::milliseconds kLeadBudget{4000};

constexpr LineSettings kListeningPost{kBaudRates.back().baud, Parity::None, StopBits::One};

std::optional<std::size_t> probeIndex(const LineSettings& line) {
    const auto found = std::find(kProbeOrder.begin(), kProbeOrder.end(), line);
    if (found == kProbeOrder.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - kProbeOrder.begin());
}

LineSettings withParity(const LineSettings& line, Parity parity) {
    return LineSettings{line.baud, parity, StopBits::One};
}

Parity otherParity(Parity parity) {
    return parity == Parity::None ? Parity::Odd : Parity::None;
}

// The last verdict heard at each setting of the probe order during this pass.
using Board = std::array<HeardVerdict, kProbeCount>;

bool heardOut(const Board& board, const LineSettings& line) {
    const std::optional<std::size_t> index = probeIndex(line);
    return index && board[*index].heard != Heard::Little;
}

// A place to listen. A firm lead is where the sender talks, so it is worth waiting there for
// its next burst; a guess is worth a short listen only where nothing is heard.
struct Lead {
    LineSettings line;
    bool firm = true;
};

// Where to listen next after a visit to heardAt ended with verdict: empty when nothing points
// anywhere (too little heard, or noise).
std::vector<Lead> leadsFrom(const HeardVerdict& verdict, const LineSettings& heardAt,
                            const Board& board) {
    const LineSettings otherSide = withParity(heardAt, otherParity(heardAt.parity));
    switch (verdict.heard) {
        case Heard::Little:
            return {};
        case Heard::Framed:
            return {};  // asked again there once the plain probes are done
        case Heard::Text:
            if (verdict.otherParity) {
                return {{otherSide}};
            }
            return {{heardAt}, {otherSide}};
        case Heard::Slower: {
            const std::uint32_t rate = heardAt.baud / (verdict.ratio == 0 ? 2 : verdict.ratio);
            if (!findBaudRate(rate)) {
                return {};
            }
            const LineSettings none{rate, Parity::None, StopBits::One};
            if (verdict.ratio == 0) {
                return {{none, false}};
            }
            return {{none}, {withParity(none, Parity::Odd)}};
        }
        case Heard::Faster:
            break;
    }
    // The sender is at this rate with the other parity, or faster, when the fastest rate shows
    // its ratio; nearest first. Where a setting was heard out already, what it heard was acted
    // on, and this is noise.
    std::vector<Lead> leads;
    for (const Lead& lead : {Lead{otherSide, false}, Lead{kListeningPost, true}}) {
        if (lead.line != heardAt && !heardOut(board, lead.line)) {
            leads.push_back(lead);
        }
    }
    return leads;
}

struct Visit {
    LineSettings line;
    std::chrono::milliseconds wait;
    // Nothing at all heard by then ends the visit.
    std::chrono::milliseconds quietLimit;
    // Time beyond this counts against the lead budget.
    std::chrono::milliseconds free;
    // Asks again where framed messages came without the answer.
    bool again = false;
};

class QuickPass {
  public:
    QuickPass(ReceiverLink& link, const ProbeReport& onProbe)
        : link_(link), onProbe_(onProbe), budget_(scaleDelay(kLeadBudget, link.timing().factor)) {
        for (const LineSettings& line : kProbeOrder) {
            const std::chrono::milliseconds wait = quickProbeWait(link, line);
            plan_.push_back(Visit{line, wait, wait, wait});
        }
    }

    bool run() {
        link_.clearVerified();
        while (link_.isOpen() && !plan_.empty() && !link_.cancellation().raised()) {
            Visit visit = plan_.front();
            plan_.pop_front();
            if (visit.again) {
                // With the budget spent, asking again is left to the full pass's long waits.
                if (budget_.count() == 0) {
                    continue;
                }
                visit.wait = std::max(quickProbeWait(link_, visit.line),
                                      std::min(leadWait(visit.line, Heard::Framed), budget_));
                visit.quietLimit = visit.wait;
            }
            if (onProbe_) {
                onProbe_(SearchPass::Quick,
                         ProbeProgress{visit.line, probeIndex(visit.line).value_or(0) + 1});
            }
            if (listen(visit)) {
                return true;
            }
            const HeardVerdict verdict = classify(link_.heardHere(), true);
            if (const auto index = probeIndex(visit.line)) {
                board_[*index] = verdict;
            }
            if (verdict.heard == Heard::Framed) {
                askAgainLater(visit.line);
            } else {
                follow(leadsFrom(verdict, visit.line, board_));
            }
            followReport(verdict);
        }
        return false;
    }

  private:
    // Heard something but not yet enough to tell: listen on for a report or a sentence, as far
    // as the budget lets.
    std::chrono::milliseconds extended(const Visit& visit) const {
        if (visit.free.count() == 0) {
            return visit.wait;  // a lead's wait already holds a burst
        }
        const std::chrono::milliseconds more =
            lineTime(kSentenceBytes, visit.line, link_.timing().factor);
        return visit.wait + std::min(more, budget_);
    }

    // Asks and listens; once the answer has had its time, ends early when what is heard rules the
    // setting out, or when nothing is heard.
    bool listen(const Visit& visit) {
        const Clock::time_point start = Clock::now();
        const std::chrono::milliseconds answerTime = quickProbeWait(link_, visit.line);
        const bool found = probeSetting(link_, visit.line, extended(visit), [&] {
            const std::chrono::milliseconds elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            const HeardTally tally = link_.heardHere();
            if (tally.bytes == 0) {
                return elapsed >= visit.quietLimit;
            }
            // Whatever is heard, the answer to the question gets its time.
            if (elapsed < answerTime) {
                return false;
            }
            // Only what rules this setting out ends the visit: a slower sender, text at the other
            // parity, or bytes no slower sender explains that should have framed by now (they
            // may be this rate's own, not framed yet); or framed messages enough to have
            // brought the answer.
            const HeardVerdict verdict = classify(tally, false);
            return tally.messages >= kMessagesPastAnswer || verdict.heard == Heard::Slower ||
                   (verdict.heard == Heard::Text && verdict.otherParity) ||
                   (verdict.heard == Heard::Faster && tally.bytes >= kSentenceBytes);
        });
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        budget_ -= std::min(budget_, std::max(spent - visit.free, std::chrono::milliseconds{0}));
        return found;
    }

    void follow(const std::vector<Lead>& leads) {
        for (auto lead = leads.rbegin(); lead != leads.rend(); ++lead) {
            const std::optional<std::size_t> index = probeIndex(lead->line);
            if (!index || followed_[*index] >= kMostLeadsPerSetting || budget_.count() == 0) {
                continue;
            }
            ++followed_[*index];
            // A lead to a setting still to come takes its turn: the question is asked there too.
            std::erase_if(plan_, [&](const Visit& planned) {
                return planned.line == lead->line && planned.free.count() > 0;
            });
            // Never shorter than the plain probe it may stand in for.
            const std::chrono::milliseconds wait =
                std::max(quickProbeWait(link_, lead->line),
                         std::min(leadWait(lead->line, board_[*index].heard), budget_));
            const std::chrono::milliseconds quiet =
                lead->firm ? wait : std::min(wait, quickProbeWait(link_, lead->line));
            plan_.push_front(Visit{lead->line, wait, quiet, std::chrono::milliseconds{0}});
        }
    }

    // Behind every plain probe still to come, once per setting.
    void askAgainLater(const LineSettings& line) {
        const std::optional<std::size_t> index = probeIndex(line);
        if (!index || askedAgain_[*index]) {
            return;
        }
        askedAgain_[*index] = true;
        plan_.push_back(Visit{line, {}, {}, std::chrono::milliseconds{0}, true});
    }

    // A port report heard whole at other settings names the receiver's own, as on a port where
    // the host's settings change nothing.
    void followReport(const HeardVerdict& verdict) {
        const std::optional<PortReport> report = link_.lastPortReport();
        if (verdict.heard == Heard::Framed && report) {
            const LineSettings named = withParity(report->line, report->line.parity);
            follow({{named}});
        }
    }

    // A framed message draws an answer within a probe and one burst of reports ahead of it; a
    // sentence may be a whole output interval away.
    std::chrono::milliseconds leadWait(const LineSettings& line, Heard heardThere) const {
        const std::chrono::milliseconds burst =
            lineTime(kSentenceBytes, line, link_.timing().factor);
        if (heardThere == Heard::Framed) {
            return quickProbeWait(link_, line) + burst;
        }
        return link_.timing().leadWait + burst;
    }

    ReceiverLink& link_;
    const ProbeReport& onProbe_;
    std::chrono::milliseconds budget_;
    std::deque<Visit> plan_;
    std::array<std::uint8_t, kProbeCount> followed_{};
    std::array<bool, kProbeCount> askedAgain_{};
    Board board_{};
};

// A sentence found the setting, but any NMEA device sends those; only a TSIP receiver answers
// with a port report. Switches the talker to TSIP without waiting out a rejection, asks for its
// port settings, and, once it answered, switches it back. A port report of the found rate and
// parity is the answer; the sentence under way, or one just queued, goes ahead of it.
bool answersTsip(ReceiverLink& link) {
    const std::optional<LineSettings> line = link.verifiedSettings();
    if (!line) {
        return false;
    }
    (void)link.write(portConfig(*line, OutputProtocol::Tsip));
    // Ahead of the report: the config, a sentence under way, and a burst of the reports a
    // receiver starts its TSIP output with; then the margin once more for the switch.
    const std::chrono::milliseconds wait =
        quickProbeWait(link, *line) + link.timing().quickProbeMargin +
        lineTime(2 * kSentenceBytes + portConfig(*line, OutputProtocol::Tsip).length, *line,
                 link.timing().factor);
    const std::optional<PortReport> answer =
        awaitAnswer(link, portConfigQuery(), *line, AnswerRule::TsipOnly, wait);
    if (!answer) {
        // Back to sentences, in case a receiver took the switch but its report was lost.
        (void)link.write(portConfig(*line, OutputProtocol::Nmea));
        return false;
    }
    // It answered TSIP, so it takes the switch back: no rejection is waited for, only the first
    // sentence, after which no TSIP report still on its way can leave the link believing TSIP.
    EventWait sentence(link.checkedSentenceEvent(), &link.cancellation());
    (void)link.write(portConfig(*line, OutputProtocol::Nmea));
    (void)sentence.wait(quickProbeWait(link, *line) +
                        lineTime(2 * kSentenceBytes, *line, link.timing().factor));
    link.setOutputProtocol(OutputProtocol::Nmea);
    return true;
}

}  // namespace

const std::array<LineSettings, kProbeCount>& probeOrder() {
    return kProbeOrder;
}

std::string_view passName(SearchPass pass) {
    return pass == SearchPass::Quick ? "quick" : "full";
}

bool probeSetting(ReceiverLink& link, const LineSettings& line, std::chrono::milliseconds wait,
                  const std::function<bool()>& giveUp) {
    // A failure closes the link; the probe then simply draws no answer.
    (void)link.configurePort(line);
    const std::optional<PortReport> answer =
        awaitAnswer(link, portConfigQuery(), line, AnswerRule::RateAndParity, wait, giveUp);
    return answer && storeAnswer(link, line, *answer);
}

// The query and a full port report crossing the line, then the margin.
std::chrono::milliseconds quickProbeWait(const ReceiverLink& link, const LineSettings& line) {
    const std::size_t bytes = portConfigQuery().length + kPortReportFrameBytes;
    return lineTime(bytes, line, link.timing().factor) + link.timing().quickProbeMargin;
}

bool searchReceiver(ReceiverLink& link, const std::function<void(const ProbeProgress&)>& onProbe) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    for (std::size_t i = 0; i < kProbeOrder.size() && !link.cancellation().raised(); ++i) {
        if (onProbe) {
            onProbe(ProbeProgress{kProbeOrder[i], i + 1});
        }
        if (probeSetting(link, kProbeOrder[i], link.timing().probeWait)) {
            return true;
        }
    }
    return false;
}

SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options) {
    const std::uint64_t heardBefore = link.bytesHeard();
    const auto confirmed = [&link, &options] {
        return link.outputProtocol() != OutputProtocol::Nmea || !options.confirmNmea ||
                       answersTsip(link)
                   ? SearchOutcome::Found
                   : SearchOutcome::NotTsip;
    };
    if (QuickPass(link, options.onProbe).run()) {
        return confirmed();
    }
    if (link.cancellation().raised()) {
        return SearchOutcome::NotFound;
    }
    if (!options.fullPassWhenSilent && link.bytesHeard() == heardBefore) {
        return SearchOutcome::Silent;
    }
    const auto onFullProbe = [&options](const ProbeProgress& progress) {
        if (options.onProbe) {
            options.onProbe(SearchPass::Full, progress);
        }
    };
    return searchReceiver(link, onFullProbe) ? confirmed() : SearchOutcome::NotFound;
}

bool readReceiverSettings(ReceiverLink& link, NotificationSink* window,
                          const std::function<void()>& whileTsip) {
    link.setWindow(window);
    if (findReceiver(link) != SearchOutcome::Found) {
        return false;
    }
    requestNmeaSelection(link, whileTsip);
    if (link.cancellation().raised()) {
        link.clearVerified();
        return false;
    }
    return true;
}

}  // namespace kestrune
