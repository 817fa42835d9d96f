// The quick pass asks at each setting in turn and waits only for the question and a reply to
// cross the line. That finds a TSIP receiver, which answers at once; a receiver sending NMEA
// never answers and speaks only in bursts, once per output interval, so the quick pass also reads
// what it hears at each setting (see classify) and follows it, while the burst still runs where
// it can:
//   - a slower sender whose runs show the ratio: the rate is known; ask there briefly at
//     each parity, and stay where the talk reads as the receiver's. A ratio read with odd parity
//     that a faster sender heard at the rate it named contradicts was likelier a misread at the
//     port's own rate;
//   - text: the rate is right; stay for a sentence whose checksum holds, or, where its
//     characters' weights or its missing field separators show the other parity, ask there. A
//     sentence's address heard whole (its comma has odd weight, which the other parity never
//     keeps) shows the talker's own setting, and so does text that reads right where no faster
//     sender can be and the other parity was ruled out: the talker is asked in TSIP at once, and
//     its port report confirms a receiver without waiting for a whole sentence, which at 1200
//     bits/s takes most of a second. Where a ratio named the rate, so that every character is kept
//     at the sender's own parity, text without a whole address for as long as a sentence and an
//     address take shows the other parity;
//   - a framed message: the sender is heard whole; ask again once every setting has had its
//     plain probe, as an answer may queue behind the receiver's own reports. A receiver that
//     answers at once is then found by its own probe, however many settings before it carry
//     framed traffic of other devices. A receiver's reports come back to back, so a byte that
//     falls outside every message after one ends the wait for an answer queued behind them, and
//     an ask in TSIP, whose reports follow the talker's last sentence at once. That holds on
//     every UART at the receiver's own setting, where it keeps in step, and behind every
//     adapter, which may delay bytes but neither adds nor reorders them;
//   - nothing a slower sender explains: the sender talks at this rate with the other parity
//     (whose characters a UART misreads from the first wrong parity bit on), or faster: ask at
//     the other parity, then listen at the fastest rate, where the next burst shows its ratio.
//     Where both parities misread at a rate no faster sender can explain (the fastest, or one a
//     ratio read without parity named), both joined a burst in its middle, where characters sent
//     back to back may read out of step to its end: the next burst is listened for there;
//   - a slower sender whose runs show no ratio: two rates down, where they are a quarter as long;
//   - sentences whose checksum fails in whole characters: another device; nothing to follow.
// Every lead is only a place to listen: what finds the receiver is still its own answer there.
// The pass ends by a fixed time, so that noise at every setting still gets its answer soon after
// the full pass; leads spend only what the plain probes still to come leave of it, so that every
// setting is still asked.
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
constexpr std::size_t kSentenceBytes = 2 * kLongestSentence;
// At the sender's own parity every character is kept, so a whole address and the text after it
// pass within a sentence and an address of its talk, wherever listening began; at the other
// parity the comma, of odd weight, is never kept.
constexpr std::size_t kAddressWithinBytes = kLongestSentence + kAddressBytes + kTextAfterAddress;
// What a talker switched to TSIP may send ahead of an answer: a sentence under way, and a burst
// of the reports a receiver starts its TSIP output with.
constexpr std::size_t kAheadOfTsipAnswerBytes = 2 * kSentenceBytes;
// A receiver slots its answer behind the report under way, or, when that one ends before the
// answer is ready, behind the next: a third framed message without the answer says none is coming.
constexpr std::uint32_t kMessagesPastAnswer = 3;
// Times one setting is followed as a lead at most, so that a stream that keeps pointing about
// ends the pass.
constexpr std::uint8_t kMostLeadsPerSetting = 2;
// "No receiver" within this long, the full pass's twelve probes included; what that leaves is
// the quick pass's, less what the full pass spends besides its waits: twelve port changes and
// queries, 0.13 s measured amid noise over a pseudo-terminal (bench/README.md).
constexpr std::chrono::milliseconds kNoReceiverWithin{40000};
constexpr std::chrono::milliseconds kFullPassPortChanges{200};

// The least ratio of a sender whose characters show no inner run to the port.
constexpr std::uint32_t kUnshownRatio = 4;

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

LineSettings otherSide(const LineSettings& line) {
    return withParity(line, otherParity(line.parity));
}

// What a verdict says of the setting it was heard at: it rules it out.
bool rulesOut(const HeardVerdict& verdict) {
    return verdict.heard == Heard::Slower || verdict.heard == Heard::Faster ||
           verdict.heard == Heard::Foreign || (verdict.heard == Heard::Text && verdict.otherParity);
}

// Where the rate is known, what points to the other parity.
bool otherSideLikelier(const HeardVerdict& verdict) {
    return verdict.heard == Heard::Faster || (verdict.heard == Heard::Text && verdict.otherParity);
}

// A byte outside every message after one: no receiver's burst runs here, as its reports come
// back to back and, once it is switched to TSIP, follow its last sentence at once.
bool strayAfterMessage(const HeardTally& tally) {
    return tally.messages > 0 && tally.strayAfterMessage > 0;
}

// What the receiver's own talk may look like while it is still too short to frame or to read.
bool mayBeOwnTalk(const HeardVerdict& verdict) {
    return verdict.heard == Heard::Framed || (verdict.heard == Heard::Text && !verdict.otherParity);
}

enum class VisitKind {
    Plain,   // the setting's own probe, once each, in the search's order
    Brief,   // a lead: the question, and as long as the talk heard there may be the receiver's
    Listen,  // the talk there is the receiver's kind: wait for its next burst
    Again,   // framed messages came without the answer: ask again, once the plain probes are done
};

struct Visit {
    LineSettings line;
    VisitKind kind = VisitKind::Plain;
    bool operator==(const Visit&) const = default;
};

std::chrono::milliseconds elapsedSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// How long a talker switched to TSIP may take to answer: the question and the report, the
// config, a sentence under way, and a burst of the reports a receiver starts its TSIP output
// with; then the margin once more for the switch.
std::chrono::milliseconds tsipAnswerWait(const ReceiverLink& link, const LineSettings& line) {
    return quickProbeWait(link, line) + link.timing().quickProbeMargin +
           lineTime(kAheadOfTsipAnswerBytes + portConfig(line, OutputProtocol::Tsip).length, line,
                    link.timing().factor);
}

// A talker that answered in TSIP takes the switch back: no rejection is waited for, only the time
// for the command to cross the line and be taken up. TSIP it had queued before it took the
// switch can still follow; that does not tell the link the output protocol, and a receiver whose
// next sentence comes only at its next output interval need not be waited for.
void switchBackToNmea(ReceiverLink& link, const LineSettings& line) {
    const TsipFrame back = portConfig(line, OutputProtocol::Nmea);
    (void)link.write(back);
    (void)link.cancellation().sleepFor(lineTime(back.length, line, link.timing().factor) +
                                       link.timing().residueWait);
    link.setOutputProtocol(OutputProtocol::Nmea, kAheadOfTsipAnswerBytes);
}

// Ends a switch to TSIP: back to sentences, waited for when the talker answered, and sent all the
// same when it did not, in case a receiver took the switch but its report was lost.
void endTsipAsk(ReceiverLink& link, const LineSettings& line, bool answered) {
    if (answered) {
        switchBackToNmea(link, line);
    } else {
        (void)link.write(portConfig(line, OutputProtocol::Nmea));
    }
}

class QuickPass {
  public:
    QuickPass(ReceiverLink& link, const ProbeReport& onProbe, bool confirmNmea)
        : link_(link),
          onProbe_(onProbe),
          confirmNmea_(confirmNmea),
          deadline_(Clock::now() + quickPassLimit(link.timing())) {
        for (const LineSettings& line : kProbeOrder) {
            plan_.push_back(Visit{line});
        }
    }

    // How the talker found answered, or nothing: TSIP where it gave a port report, as the find or
    // when asked in TSIP after its sentence (it was switched back then), NMEA where only a
    // sentence found it.
    std::optional<OutputProtocol> run() {
        link_.clearVerified();
        while (link_.isOpen() && !plan_.empty() && !link_.cancellation().raised() &&
               Clock::now() < deadline_) {
            Visit visit = plan_.front();
            plan_.pop_front();
            if (visit.kind == VisitKind::Listen) {
                visit.line = likelierSide(visit.line);
            }
            const std::chrono::milliseconds answerTime = quickProbeWait(link_, visit.line);
            const std::chrono::milliseconds room = roomFor(visit);
            if (room < answerTime) {
                continue;  // the plain probes still to come need the time
            }
            if (onProbe_) {
                onProbe_(SearchPass::Quick,
                         ProbeProgress{visit.line, probeIndex(visit.line).value_or(0) + 1});
            }
            bool leftEarly = false;
            bool notOwnText = false;
            std::optional<OutputProtocol> found =
                listen(visit, answerTime, room, leftEarly, notOwnText);
            if (askedInTsip_) {
                askedInTsip_ = false;
                if (settleTsipAsk(visit.line, found)) {
                    found = OutputProtocol::Tsip;
                }
            }
            if (found) {
                return found;
            }
            HeardVerdict verdict = classify(link_.heardHere(), true);
            verdict.otherParity = verdict.otherParity || notOwnText;
            const std::optional<std::size_t> index = probeIndex(visit.line);
            if (index) {
                board_[*index] = verdict;
                listened_[*index] = listened_[*index] || visit.kind == VisitKind::Listen;
            }
            if (leftEarly && visit.kind == VisitKind::Plain) {
                plan_.push_back(visit);  // the setting's own answer did not have its time
            }
            react(visit, verdict);
        }
        return std::nullopt;
    }

  private:
    static std::chrono::milliseconds quickPassLimit(const Timing& timing) {
        const std::chrono::milliseconds fullPass =
            static_cast<std::chrono::milliseconds::rep>(kProbeCount) * timing.probeWait;
        return scaleDelay(kNoReceiverWithin - kFullPassPortChanges, timing.factor) - fullPass;
    }

    // The time this visit may take: what is left before the deadline, less what the plain probes
    // still to come need. A plain probe only stands back for those after it; a listen where a
    // ratio pointed, and where the receiver's kind of talk was heard, or only the other parity
    // was ruled out, stands back for none, as that is where the receiver talks. So does one
    // where both parities joined a burst in its middle (see joinedMidBurst). At another rate
    // where both misread, a faster sender reads the same, so the listen stands back.
    std::chrono::milliseconds roomFor(const Visit& visit) const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now());
        const HeardVerdict here = verdictAt(visit.line);
        if (visit.kind == VisitKind::Listen && rateKnown(visit.line.baud) &&
            (mayBeOwnTalk(here) || joinedMidBurst(visit.line) ||
             (ruledOutAcross(visit.line) && !otherSideLikelier(here)))) {
            return std::max(left, std::chrono::milliseconds{0});
        }
        std::chrono::milliseconds reserved{0};
        for (const Visit& planned : plan_) {
            if (planned.kind == VisitKind::Plain) {
                reserved += quickProbeWait(link_, planned.line);
            }
        }
        const std::chrono::milliseconds room =
            std::max(left - reserved, std::chrono::milliseconds{0});
        if (visit.kind == VisitKind::Plain) {
            return std::max(room, std::min(left, quickProbeWait(link_, visit.line)));
        }
        return room;
    }

    // Asks and listens. A plain probe or a brief visit waits for the answer's time and stays on
    // only while what it hears may be the receiver's talk at this setting; a listen waits for a
    // burst and ends once one has ruled the setting out. Any visit ends at once where a slower
    // sender shows its ratio, so that the port gets to the sender's rate while the burst runs.
    // notOwnText is set where the text heard shows that no talker at this setting sent it: the
    // other parity's is then likelier.
    std::optional<OutputProtocol> listen(const Visit& visit, std::chrono::milliseconds answerTime,
                                         std::chrono::milliseconds room, bool& leftEarly,
                                         bool& notOwnText) {
        const Clock::time_point start = Clock::now();
        // When the first byte of the talk under way came; the residue of the change of settings
        // may come first, so its wait is added to the time an address takes.
        std::optional<Clock::time_point> heardFrom;
        const std::chrono::milliseconds addressWithin =
            lineTime(kAddressWithinBytes, visit.line, link_.timing().factor) +
            link_.timing().residueWait;
        const std::chrono::milliseconds burst =
            lineTime(kSentenceBytes, visit.line, link_.timing().factor);
        // A listen's burst is over once the line has been quiet for longer than a sentence:
        // every sentence ends in its checksum digits, CR and LF, of both weights, some of which a
        // port at the rate keeps, and a USB adapter or a FIFO holds bytes back for residueWait at
        // most. Before a gap counts, the burst must have given as many bytes as a verdict takes
        // while listening goes on, and bytes past the residue of the change of settings.
        const std::chrono::milliseconds burstGap =
            lineTime(kLongestSentence, visit.line, link_.timing().factor) +
            link_.timing().residueWait;
        std::uint32_t bytesSeen = 0;
        Clock::time_point lastByteAt = start;
        std::uint32_t messagesSeen = 0;
        Clock::time_point lastMessageAt = start;
        const std::chrono::milliseconds reportTime =
            lineTime(kLongestReportBytes, visit.line, link_.timing().factor);
        std::chrono::milliseconds wait = answerTime + burst;
        if (visit.kind == VisitKind::Listen) {
            wait = link_.timing().leadWait + burst;
        }
        wait = std::min(wait, room);
        // An early ask's answer may be due past the visit's own time: the visit then lasts to it,
        // as far as the room goes.
        const std::chrono::milliseconds askWait = tsipAnswerWait(link_, visit.line);
        const std::chrono::milliseconds longest = confirmNmea_ ? room : wait;
        const bool waitsForBurst =
            visit.kind == VisitKind::Listen || visit.kind == VisitKind::Again;
        return probeSetting(link_, visit.line, longest, [&] {
            const std::chrono::milliseconds elapsed = elapsedSince(start);
            if (elapsed >= wait && !awaitingTsip()) {
                return true;
            }
            const HeardTally tally = link_.heardHere();
            if (tally.bytes == 0) {
                return waitsForBurst ? false : elapsed >= answerTime;
            }
            if (tally.bytes != bytesSeen) {
                // Talk after a quiet line longer than a sentence is a new burst: what it must
                // show within a sentence is counted from there, not from a stray byte before.
                if (!heardFrom || Clock::now() - lastByteAt >= burstGap) {
                    heardFrom = Clock::now();
                }
                bytesSeen = tally.bytes;
                lastByteAt = Clock::now();
            }
            if (tally.messages != messagesSeen) {
                messagesSeen = tally.messages;
                lastMessageAt = Clock::now();
            }
            // Once a listen's burst is over (see burstGap), what it heard is judged as at a
            // visit's end, rather than waiting out the rest of its time for the next burst.
            const bool burstOver = visit.kind == VisitKind::Listen && !awaitingTsip() &&
                                   tally.bytes >= kVerdictBytes &&
                                   lastByteAt - start > link_.timing().residueWait &&
                                   Clock::now() - lastByteAt >= burstGap;
            const HeardVerdict verdict = classify(tally, burstOver);
            if (burstOver && rulesOut(verdict)) {
                return true;
            }
            // A sentence's address heard whole, or text that reads right where no faster sender
            // can be, is most likely the receiver's: ask it in TSIP at once rather than after a
            // whole sentence, whose answer then comes behind the one under way, and give the
            // answer its time. A sentence that checks meanwhile still ends the visit. The switch
            // carries this port's settings, and a receiver at the other parity that takes it
            // moves there: an address is heard whole only at the sender's parity, but for text
            // that parity must have been heard and ruled out first, as weights alone are a
            // guess wherever a UART resynchronises on dropped characters.
            const bool ownAddress = showsOwnAddress(tally);
            if (confirmNmea_ && !askedInTsip_ &&
                (ownAddress || (textTrusted(visit.line.baud) && ruledOutAcross(visit.line) &&
                                readsAsOwnText(tally)))) {
                askedInTsip_ = true;
                askedAtAddress_ = ownAddress ? std::optional<HeardTally>(tally) : std::nullopt;
                tsipAnswerBy_ = std::min(Clock::now() + askWait, deadline_);  // the pass ends
                (void)link_.write(portConfig(visit.line, OutputProtocol::Tsip));
                (void)link_.write(portConfigQuery());
            }
            // The port's one device talks slower, so no receiver answers at this setting just
            // now: a plain probe leaves while the burst still runs at the rate it points to, and
            // asks here again once the other plain probes are done. A lead's answer gets its
            // time: its setting is where talk pointed.
            if (visit.kind == VisitKind::Plain && verdict.heard == Heard::Slower &&
                pointsSlower(visit.line.baud, verdict.ratio)) {
                leftEarly = elapsed < answerTime;
                return true;
            }
            // At a rate a ratio named, sentence text that shows the other parity rules this one
            // out at once: the receiver talks, and answers, only at its own. A plain probe that
            // hears it leaves for the other parity while the burst still runs there, and asks
            // here again once the other plain probes are done.
            if (verdict.heard == Heard::Text && verdict.otherParity) {
                if (visit.kind == VisitKind::Plain) {
                    leftEarly = elapsed < answerTime;
                    return true;
                }
                if (visit.kind == VisitKind::Brief && rateKnown(visit.line.baud)) {
                    return true;
                }
            }
            // Where a ratio named the rate, text without a whole address for as long as one
            // takes to pass is the other parity's: leave for it while the talk still runs,
            // unless the talker was asked in TSIP here already.
            if (visit.kind != VisitKind::Plain && rateKnown(visit.line.baud) && !askedInTsip_ &&
                verdict.heard == Heard::Text && tally.addresses == 0 && tally.messages == 0 &&
                Clock::now() - *heardFrom >= addressWithin) {
                notOwnText = true;
                return true;
            }
            if (elapsed < answerTime) {
                return false;  // whatever is heard, the answer to the question gets its time
            }
            if (awaitingTsip()) {
                // Its TSIP reports may come first and are no sentence; only a sentence that
                // failed (another device, whatever followed it), a byte outside every message
                // after one, talk out of step after the address that had it asked (the address
                // was no talker's here), or text of the other parity ends the wait.
                notOwnText = outOfStepAfterAddress(tally);
                return notOwnText || tally.badSentences > 0 || strayAfterMessage(tally) ||
                       (verdict.heard == Heard::Text && verdict.otherParity);
            }
            // Bytes without inner runs name no ratio, and a receiver's report at this very setting
            // gives them too where its fields are constant (zeros): past the answer's time, when
            // the setting's own probe would not be asked again, they rule nothing out before the
            // report under way would have framed.
            const bool reportMayFrame = visit.kind == VisitKind::Plain &&
                                        verdict.heard == Heard::Slower && verdict.ratio == 0 &&
                                        tally.bytes < unframedLimit(tally);
            // Where both parities joined a burst in its middle, a port that reads back-to-back
            // characters out of step keeps that step wherever their bits allow a frame there,
            // and regains the sender's at a character that allows none, so a misread rules
            // nothing out before the visit's time is up.
            const bool mayRegainStep = visit.kind == VisitKind::Brief &&
                                       verdict.heard == Heard::Faster && joinedMidBurst(visit.line);
            if (tally.messages >= kMessagesPastAnswer ||
                (rulesOut(verdict) && !reportMayFrame && !mayRegainStep)) {
                return true;
            }
            // A receiver's reports come back to back, and its answer right behind one: a byte
            // outside every message after one, or the answer's time and a report's since the
            // last framed message with neither the answer nor another message, says none is
            // queued here. Messages further apart than that (noise, another device) are no
            // receiver's burst.
            if (!waitsForBurst &&
                (strayAfterMessage(tally) ||
                 (tally.messages > 0 && Clock::now() - lastMessageAt >= answerTime + reportTime))) {
                return true;
            }
            // A receiver's answer follows the report under way, whose bytes come back to back:
            // it is due the answer's time after the bytes heard so far could have crossed the
            // line. Bytes that come slower than that (noise, a sender at other settings losing
            // characters to errors) are no report at this setting.
            const std::chrono::milliseconds unframed =
                answerTime + lineTime(std::min(tally.bytes, unframedLimit(tally)), visit.line,
                                      link_.timing().factor);
            return !waitsForBurst && !mayRegainStep && elapsed >= unframed &&
                   !mayBeOwnTalk(verdict);
        });
    }

    bool awaitingTsip() const { return askedInTsip_ && Clock::now() < tsipAnswerBy_; }

    // No message since a whole address had the talker asked in TSIP, and since then a byte
    // outside every message, or more bytes than the rest of a sentence and a report: a port at
    // the talker's own setting reads it in step from its address on, so its sentence runs on to
    // its end, or is cut by the first report, and its reports follow back to back. Such bytes
    // show that the address was noise, or a misread of another setting.
    bool outOfStepAfterAddress(const HeardTally& tally) const {
        if (!askedAtAddress_ || tally.messages != askedAtAddress_->messages) {
            return false;
        }
        return tally.strayAfterMessage > askedAtAddress_->strayAfterMessage ||
               tally.bytes > askedAtAddress_->bytes + kLongestSentence + kLongestReportBytes;
    }

    // The visit at line asked its talker in TSIP. Found by its port report, it is switched back;
    // found by a sentence that checked first, its report gets the rest of its time. Whether the
    // talker answered in TSIP. An answer missed in the race with the sentence that found the
    // talker says nothing: it is asked again in full rather than named a device that answers no
    // TSIP.
    bool settleTsipAsk(const LineSettings& line, std::optional<OutputProtocol> found) {
        const LineSettings at = link_.verifiedSettings().value_or(line);
        bool answered = found == OutputProtocol::Tsip;
        if (found && !answered) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(tsipAnswerBy_ - Clock::now());
            answered =
                left.count() > 0 &&
                awaitAnswer(link_, portConfigQuery(), at, AnswerRule::TsipOnly, left).has_value();
        }
        endTsipAsk(link_, at, answered);
        return answered;
    }

    // Where to go next after a visit ended with verdict.
    void react(const Visit& visit, const HeardVerdict& verdict) {
        const LineSettings& line = visit.line;
        switch (verdict.heard) {
            case Heard::Little:
                (void)listenForNextBurst(visit);
                return;
            case Heard::Foreign:
                followReport();
                return;
            case Heard::Framed:
                askAgainLater(line);
                followReport();
                return;
            case Heard::Text:
                if (verdict.otherParity) {
                    follow({{otherSide(line), VisitKind::Brief}});
                } else {
                    // Text alone is weak (see rateKnown): leads planned already go first, unless
                    // the other parity was ruled out, which text here explains.
                    follow({{line, VisitKind::Listen}},
                           ruledOutAcross(line) ? Place::First : Place::BehindLeads);
                }
                return;
            case Heard::Slower:
                followSlower(line, verdict.ratio);
                return;
            case Heard::Faster:
                // Both parities of a rate a ratio named misread: each heard the burst from its
                // middle, where a port takes a while to find the start bits. Or the ratio was a
                // misread itself, of a sender at the rate it was read at (see askRatioSource).
                if (line != kListeningPost) {
                    if (visit.kind == VisitKind::Brief) {
                        askRatioSource(line.baud);
                    }
                    if (listenForNextBurst(visit)) {
                        return;
                    }
                }
                break;
        }
        // The other parity, or a faster sender, which the fastest rate shows; the other parity
        // alone where nothing is faster or the rate is known. A setting heard out already was
        // acted on, so what points there again is noise.
        std::vector<Visit> leads;
        const auto unheard = [this](const LineSettings& at) {
            return verdictAt(at).heard == Heard::Little;
        };
        if (unheard(otherSide(line))) {
            leads.push_back({otherSide(line), VisitKind::Brief});
        }
        if (!rateKnown(line.baud) && unheard(kListeningPost)) {
            leads.push_back({kListeningPost, VisitKind::Listen});
        }
        follow(leads);
    }

    // The rate is known and both parities were asked while its burst ran, or was over, or the
    // other parity heard it and pointed here: wait for the next where the talk may be the
    // receiver's. Whether it was that case.
    bool listenForNextBurst(const Visit& visit) {
        if (visit.kind != VisitKind::Brief || !rateKnown(visit.line.baud) ||
            (!briefed(otherSide(visit.line)) && !ruledOutAcross(visit.line))) {
            return false;
        }
        follow({{likelierSide(visit.line), VisitKind::Listen}}, Place::BehindLeads);
        return true;
    }

    // A port with odd parity keeps few characters of a slower sender: sampled two, four or eight
    // times a bit, its data and parity samples fall in pairs within the sender's bits, of even
    // weight, which fails the check, bar where a UART restarted out of step. A ratio read there
    // is as likely a misread of a sender at the port's own rate without parity: a digit's high
    // half and a stop bit stretched by idle time make runs of two. Where the rate such a ratio
    // named hears a faster sender, the next burst is first listened for at the other parity of
    // the setting the ratio was read at.
    void askRatioSource(std::uint32_t rate) {
        std::optional<LineSettings>& source = ratioSources_[rateIndex(rate)];
        if (source && verdictAt(otherSide(*source)).heard == Heard::Little) {
            follow({{otherSide(*source), VisitKind::Listen}}, Place::First);
        }
        source.reset();
    }

    // With no run to show the ratio, the sender is most likely four or more times slower: a
    // sender two times slower gives runs of two inside most characters but separators and points.
    // Where four times slower is below every rate offered, two is all that is left; where it is the
    // slowest rate offered, nothing else is, and both of its parities are asked.
    void followSlower(const LineSettings& line, std::uint32_t ratio) {
        std::uint32_t rate = line.baud / (ratio == 0 ? kUnshownRatio : ratio);
        if (ratio == 0 && !findBaudRate(rate)) {
            rate = line.baud / kSlowerRatios.front();
        }
        if (!findBaudRate(rate)) {
            return;
        }
        const LineSettings none{rate, Parity::None, StopBits::One};
        const LineSettings odd = withParity(none, Parity::Odd);
        if (ratio == 0) {
            // No faster sender is heard there: a slower one never reads as text. Bytes without
            // inner runs are also what many misreads give, so the rate is not taken as known.
            notFaster_[rateIndex(rate)] = true;
            if (line.baud / kUnshownRatio == kBaudRates.front().baud) {
                follow({{odd, VisitKind::Brief}, {none, VisitKind::Brief}});
            } else {
                follow({{none, VisitKind::Brief}});
            }
            return;
        }
        knownRates_[rateIndex(rate)] = true;
        if (line.parity == Parity::Odd) {
            ratioSources_[rateIndex(rate)] = line;
        } else {
            namedWithoutParity_[rateIndex(rate)] = true;
        }
        // Where a parity was ruled out already, the other goes first. Where both misread, both
        // joined a burst in its middle, and the one likelier to keep in step goes first.
        const bool oddRuledOut =
            otherSideLikelier(verdictAt(odd)) && !otherSideLikelier(verdictAt(none));
        const LineSettings first = bothMisread(none) ? likelierSide(none)
                                   : oddRuledOut     ? none
                                                     : odd;
        follow({{first, VisitKind::Brief}, {otherSide(first), VisitKind::Brief}});
    }

    // Whether a slower sender heard at rate, ratio times slower (0: unshown), points to a rate
    // offered, so that a plain probe leaves for it. Bytes without inner runs point only where
    // four times slower is offered (see followSlower): where it is not, they name two only by
    // default, which a sender two times slower seldom gives, and a receiver's report at this
    // very setting gives them where its fields are zeros.
    static bool pointsSlower(std::uint32_t rate, std::uint32_t ratio) {
        return findBaudRate(rate / (ratio == 0 ? kUnshownRatio : ratio)).has_value();
    }

    // A rate is known where a ratio pointed to it; nothing is faster than the fastest. Text is
    // not enough: a faster sender's text, sampled every other bit, mostly reads as text too.
    bool rateKnown(std::uint32_t rate) const {
        return rate == kListeningPost.baud || knownRates_[rateIndex(rate)];
    }

    // Text heard at a rate where no faster sender can be is the sender's own, as far as the rate
    // goes: its parity is then read from its weights.
    bool textTrusted(std::uint32_t rate) const {
        return rateKnown(rate) || notFaster_[rateIndex(rate)];
    }

    static std::size_t rateIndex(std::uint32_t rate) {
        const auto found =
            std::find_if(kBaudRates.begin(), kBaudRates.end(),
                         [rate](const BaudRate& offered) { return offered.baud == rate; });
        return static_cast<std::size_t>(found - kBaudRates.begin()) % kBaudRates.size();
    }

    HeardVerdict verdictAt(const LineSettings& line) const {
        const std::optional<std::size_t> index = probeIndex(line);
        return index ? board_[*index] : HeardVerdict{};
    }

    bool briefed(const LineSettings& line) const {
        const std::optional<std::size_t> index = probeIndex(line);
        return index && briefed_[*index];
    }

    // Both parities of line's rate heard nothing a slower sender explains.
    bool bothMisread(const LineSettings& line) const {
        return verdictAt(line).heard == Heard::Faster &&
               verdictAt(otherSide(line)).heard == Heard::Faster;
    }

    // Both parities of line's rate misread a burst, and no faster sender explains it: the rate
    // is the fastest, or one that a port without parity read a ratio for, which is no misread of
    // a sender at the port's own rate (see askRatioSource). Both joined a burst in its middle,
    // where a port may read back-to-back characters out of step to their end.
    bool joinedMidBurst(const LineSettings& line) const {
        return (line.baud == kListeningPost.baud || namedWithoutParity_[rateIndex(line.baud)]) &&
               bothMisread(line);
    }

    // A listen goes where the talk may be the receiver's: to the other parity when what was
    // heard here points there and nothing heard there points back. Where both parities misread
    // a burst, the one without parity goes first. A port that joins a stream of text in its
    // middle may read it out of step to its end: a character's last data bit is low, and a UART
    // that looks for a start bit takes such a falling edge for one as long as the characters
    // come back to back. A port without parity, though, reads an odd-parity sender's parity bit as
    // its stop bit and the sender's stop bit as idle, so on a UART that waits for a falling edge
    // after an error it keeps in step, and reads text of one weight rather than misreading; a port
    // with parity takes a sender's next start bit for its stop bit and loses step. A UART that
    // restarts on a low stop-bit sample loses step at no parity too, so once a listen there has
    // waited for a burst and misread it, the other parity is listened to.
    LineSettings likelierSide(const LineSettings& line) const {
        if (bothMisread(line)) {
            const LineSettings none = withParity(line, Parity::None);
            const std::optional<std::size_t> index = probeIndex(none);
            return index && listened_[*index] ? otherSide(none) : none;
        }
        return otherSideLikelier(verdictAt(line)) && !ruledOutAcross(line) ? otherSide(line) : line;
    }

    // What was heard at the other parity of line's rate points back to line.
    bool ruledOutAcross(const LineSettings& line) const {
        return otherSideLikelier(verdictAt(otherSide(line)));
    }

    enum class Place { First, BehindLeads };

    // Puts the leads first, or behind the leads planned already, in order. A lead to a setting
    // whose plain probe is still to come takes its turn, as the question is asked there too, and
    // so is that probe moved up rather than a lead of its own; one already planned moves up.
    void follow(const std::vector<Visit>& leads, Place place = Place::First) {
        for (auto lead = leads.rbegin(); lead != leads.rend(); ++lead) {
            const std::optional<std::size_t> index = probeIndex(lead->line);
            if (!index) {
                continue;
            }
            const bool plainTurn = std::erase(plan_, Visit{lead->line, VisitKind::Plain}) > 0;
            const auto planned = std::find(plan_.begin(), plan_.end(), *lead);
            if (planned != plan_.end()) {
                plan_.erase(planned);
            } else if (!plainTurn) {
                if (followed_[*index] >= kMostLeadsPerSetting) {
                    continue;
                }
                ++followed_[*index];
            }
            if (lead->kind == VisitKind::Brief) {
                briefed_[*index] = true;
            }
            if (place == Place::First) {
                plan_.push_front(*lead);
            } else {
                plan_.insert(std::find_if(plan_.begin(), plan_.end(),
                                          [](const Visit& planned) {
                                              return planned.kind == VisitKind::Plain ||
                                                     planned.kind == VisitKind::Again;
                                          }),
                             *lead);
            }
        }
    }

    // Behind every plain probe still to come, once per setting.
    void askAgainLater(const LineSettings& line) {
        const std::optional<std::size_t> index = probeIndex(line);
        if (!index || askedAgain_[*index]) {
            return;
        }
        askedAgain_[*index] = true;
        plan_.push_back(Visit{line, VisitKind::Again});
    }

    // A port report heard whole at other settings names the receiver's own, as on a port where
    // the host's settings change nothing.
    void followReport() {
        if (const std::optional<PortReport> report = link_.lastPortReport()) {
            follow({{withParity(report->line, report->line.parity), VisitKind::Brief}});
        }
    }

    ReceiverLink& link_;
    const ProbeReport& onProbe_;
    const bool confirmNmea_;
    Clock::time_point deadline_;
    // The visit under way asked its talker in TSIP.
    bool askedInTsip_ = false;
    // What had been heard when a whole address had the talker asked; nothing when text did.
    std::optional<HeardTally> askedAtAddress_;
    Clock::time_point tsipAnswerBy_;
    std::deque<Visit> plan_;
    std::array<std::uint8_t, kProbeCount> followed_{};
    std::array<bool, kProbeCount> askedAgain_{};
    std::array<bool, kProbeCount> briefed_{};
    // A listen has waited there for a burst.
    std::array<bool, kProbeCount> listened_{};
    std::array<bool, kBaudRates.size()> knownRates_{};
    std::array<bool, kBaudRates.size()> notFaster_{};
    // Where a port with parity read the ratio that named each known rate, until a faster sender
    // there calls it into question.
    std::array<std::optional<LineSettings>, kBaudRates.size()> ratioSources_{};
    // A port without parity read a ratio that named each rate.
    std::array<bool, kBaudRates.size()> namedWithoutParity_{};
    // The last verdict heard at each setting of the probe order during this pass.
    std::array<HeardVerdict, kProbeCount> board_{};
};

// Whether another sentence that checks comes at the verified setting within a lead wait, which
// a talker's own output gives.
bool keepsSendingSentences(ReceiverLink& link) {
    const std::optional<LineSettings> line = link.verifiedSettings();
    if (!line) {
        return false;
    }
    EventWait sentence(link.checkedSentenceEvent(), &link.cancellation());
    return sentence.wait(link.timing().leadWait +
                         lineTime(kSentenceBytes, *line, link.timing().factor)) ==
           WaitResult::First;
}

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
    const std::optional<PortReport> answer = awaitAnswer(
        link, portConfigQuery(), *line, AnswerRule::TsipOnly, tsipAnswerWait(link, *line));
    endTsipAsk(link, *line, answer.has_value());
    return answer.has_value();
}

}  // namespace

const std::array<LineSettings, kProbeCount>& probeOrder() {
    return kProbeOrder;
}

std::string_view passName(SearchPass pass) {
    return pass == SearchPass::Quick ? "quick" : "full";
}

std::optional<OutputProtocol> probeSetting(ReceiverLink& link, const LineSettings& line,
                                           std::chrono::milliseconds wait,
                                           const std::function<bool()>& giveUp) {
    // A failure closes the link; the probe then simply draws no answer.
    (void)link.configurePort(line);
    const std::optional<PortReport> answer =
        awaitAnswer(link, portConfigQuery(), line, AnswerRule::RateAndParity, wait, giveUp);
    if (!answer || !storeAnswer(link, line, *answer)) {
        return std::nullopt;
    }
    return answer->output;
}

// The query and a full port report crossing the line, then the margin.
std::chrono::milliseconds quickProbeWait(const ReceiverLink& link, const LineSettings& line) {
    const std::size_t bytes = portConfigQuery().length + kPortReportFrameBytes;
    return lineTime(bytes, line, link.timing().factor) + link.timing().quickProbeMargin;
}

bool searchReceiver(ReceiverLink& link, const std::function<void(const ProbeProgress&)>& onProbe,
                    const std::function<bool(OutputProtocol)>& accepted) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    for (std::size_t i = 0; i < kProbeOrder.size() && !link.cancellation().raised(); ++i) {
        if (onProbe) {
            onProbe(ProbeProgress{kProbeOrder[i], i + 1});
        }
        const std::optional<OutputProtocol> found =
            probeSetting(link, kProbeOrder[i], link.timing().probeWait);
        if (found && (!accepted || accepted(*found))) {
            return true;
        }
    }
    return false;
}

SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options) {
    const std::uint64_t heardBefore = link.bytesHeard();
    // What an answer turned out to be; nothing when its sentence was chance and the search goes on.
    // The port drops characters that arrive with errors, so a talker's sentence heard at a setting
    // near its own, parity or rate off, comes with characters missing; now and then, one time in
    // 256 for an eight-bit checksum, those it lost leave the checksum holding. A device that
    // answers no TSIP is named only once a second sentence checks at the setting, which chance
    // almost never gives.
    std::optional<SearchOutcome> outcome;
    QuickPass quick(link, options.onProbe, options.confirmNmea);
    const auto judge = [&link, &options, &outcome](OutputProtocol foundBy) {
        if (foundBy != OutputProtocol::Nmea || !options.confirmNmea || answersTsip(link)) {
            outcome = SearchOutcome::Found;
        } else if (keepsSendingSentences(link)) {
            outcome = SearchOutcome::NotTsip;
        } else {
            link.clearVerified();
        }
        return outcome.has_value();
    };
    while (const std::optional<OutputProtocol> foundBy = quick.run()) {
        if (judge(*foundBy)) {
            return *outcome;
        }
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
    return searchReceiver(link, onFullProbe, judge) ? *outcome : SearchOutcome::NotFound;
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
