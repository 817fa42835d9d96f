// The quick pass asks at each setting in turn and waits only for the question and a reply to
// cross the line. That finds a TSIP receiver, which answers at once; a receiver sending NMEA
// never answers and speaks only once per output interval, so the quick pass also reads what it
// hears at each setting and follows it:
//   - framed messages: the setting is the receiver's; ask again and listen on;
//   - mostly text: the rate is right; listen on for a sentence whose checksum holds (a port that
//     starts in the middle of a stream finds the characters' start bits at the next pause),
//     and try the other parity once the text has no character of odd weight (a port without
//     parity keeps only the characters whose odd parity bit reads as a stop bit) or two
//     sentences' worth of it passed without one that checks out;
//   - bytes nearly all shaped as heard from a slower sender (the first bits zero, the rest in
//     runs of two, four or eight equal bits): go to the rate that ratio below;
//   - anything else: the receiver talks faster than the port listens; listen at the fastest
//     rate, where the next burst tells its rate, or, there, try the other parity.
// Every lead is only a place to listen: what finds the receiver is still its own answer there.
#include "link/receiver_search.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>

#include "link/heard_tally.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes heard before what they show is trusted while listening goes on: enough to tell text
// from noise, and, for noise, enough to hold two of a TSIP receiver's reports, one of which
// would have framed. Once a visit has ended, a few bytes are enough.
constexpr std::uint32_t kFewBytes = 3;
constexpr std::uint32_t kVerdictBytes = 12;
constexpr std::uint32_t kNoiseVerdictBytes = 48;
// Recent bytes at least this much text: the rate is right, though a port that starts listening in
// the middle of a stream may take a while to find the characters' start bits.
constexpr double kMostlyText = 0.75;
// Text characters weighed before none of odd weight is telling.
constexpr std::uint32_t kWeighedText = 12;
// Bytes that nearly all have one shape of a slower sender come from one.
constexpr double kNearlyAll = 0.8;
// The longest sentence, twice: one may be under way when listening starts.
constexpr std::size_t kSentenceBytes = 2 * 82;
// Times one setting is followed as a lead at most, so that a stream that keeps pointing about
// ends the pass.
constexpr std::uint8_t kMostLeadsPerSetting = 2;

constexpr LineSettings kListeningPost{kBaudRates.back().baud, Parity::None, StopBits::One};

bool searchPass(ReceiverLink& link, bool quick, std::string_view name, const ProbeReport& onProbe) {
    SearchPass pass{quick, {}};
    if (onProbe) {
        pass.onProbe = [&onProbe, name](const ProbeProgress& progress) { onProbe(name, progress); };
    }
    return searchReceiver(link, pass);
}

std::size_t probeNumber(const LineSettings& line) {
    const auto& order = probeOrder();
    return static_cast<std::size_t>(std::find(order.begin(), order.end(), line) - order.begin()) +
           1;
}

LineSettings withParity(const LineSettings& line, Parity parity) {
    return LineSettings{line.baud, parity, StopBits::One};
}

Parity otherParity(Parity parity) {
    return parity == Parity::None ? Parity::Odd : Parity::None;
}

bool nearlyAll(std::uint32_t count, std::uint32_t of) {
    return count >= kNearlyAll * of;
}

// The rate of a slower sender heard at heardAt: the longest runs nearly every byte is made of
// tell how many times over each of its bits is heard. Nothing when no shape fits.
std::optional<std::uint32_t> slowerRate(const HeardTally& tally, std::uint32_t heardAt) {
    std::uint32_t ratio = 1;
    for (std::size_t i = 0; i < tally.slowerShapes.size(); ++i) {
        if (nearlyAll(tally.slowerShapes[i], tally.bytes)) {
            ratio = HeardTally::kSlowerRatios[i];
        }
    }
    const std::uint32_t rate = heardAt / ratio;
    if (ratio == 1 || !findBaudRate(rate)) {
        return std::nullopt;
    }
    return rate;
}

// Where to listen next after hearing tally at heardAt, during a visit or once it ended; empty
// while too little was heard. A framed message makes the setting the receiver's, though nothing
// answered yet.
std::vector<LineSettings> leadsFrom(const HeardTally& tally, const LineSettings& heardAt,
                                    bool ended) {
    if (tally.messages > 0) {
        return {heardAt};
    }
    const auto tooFew = [&](std::uint32_t enough) {
        return tally.bytes < (ended ? kFewBytes : enough);
    };
    if (tooFew(kVerdictBytes)) {
        return {};
    }
    const LineSettings otherSide = withParity(heardAt, otherParity(heardAt.parity));
    if (tally.recentText >= kMostlyText * tally.recent()) {
        // Text of no odd weight at all, or a stream of text in which no sentence checked out:
        // the other parity. Otherwise listen on: a port that started in the middle of a stream
        // finds the start bits again at the next pause before a sentence.
        const bool noOddText = tally.recentText >= kWeighedText && tally.recentOddText == 0;
        if (noOddText || tally.bytes >= kSentenceBytes) {
            return {otherSide};
        }
        return ended ? std::vector<LineSettings>{heardAt, otherSide}
                     : std::vector<LineSettings>{heardAt};
    }
    if (const std::optional<std::uint32_t> rate = slowerRate(tally, heardAt.baud)) {
        return {LineSettings{*rate, Parity::None, StopBits::One},
                LineSettings{*rate, Parity::Odd, StopBits::One}};
    }
    if (tooFew(kNoiseVerdictBytes)) {
        return {};
    }
    // Nothing is faster than the fastest rate: there, only the parity can be wrong.
    return {heardAt.baud == kListeningPost.baud ? otherSide : kListeningPost};
}

struct Visit {
    LineSettings line;
    std::chrono::milliseconds wait;
    // Nothing at all heard by then ends the visit.
    std::chrono::milliseconds quietLimit;
};

class QuickPass {
  public:
    QuickPass(ReceiverLink& link, std::string_view name, const ProbeReport& onProbe)
        : link_(link), name_(name), onProbe_(onProbe) {
        for (const LineSettings& line : probeOrder()) {
            const std::chrono::milliseconds wait = quickProbeWait(link, line);
            // Heard something but not yet enough to tell: listen on for a report or sentence, after
            // which an answer may be coming.
            const std::chrono::milliseconds more =
                lineTime(kSentenceBytes, line, link.timing().factor);
            plan_.push_back(Visit{line, wait + more, wait});
        }
    }

    bool run() {
        link_.clearVerified();
        while (link_.isOpen() && !plan_.empty() && !link_.cancellation().raised()) {
            const Visit visit = plan_.front();
            plan_.pop_front();
            if (onProbe_) {
                onProbe_(name_, ProbeProgress{visit.line, probeNumber(visit.line)});
            }
            if (listen(visit)) {
                return true;
            }
            follow(leadsFrom(link_.heardHere(), visit.line, true));
        }
        return false;
    }

  private:
    std::chrono::milliseconds leadWait(const LineSettings& line) const {
        return link_.timing().leadWait + lineTime(kSentenceBytes, line, link_.timing().factor);
    }

    // Asks and listens; ends early once what is heard points elsewhere, or nothing is heard.
    bool listen(const Visit& visit) {
        const Clock::time_point start = Clock::now();
        return probeSetting(link_, visit.line, visit.wait, [&] {
            const HeardTally tally = link_.heardHere();
            if (tally.bytes == 0) {
                return Clock::now() - start >= visit.quietLimit;
            }
            const std::vector<LineSettings> leads = leadsFrom(tally, visit.line, false);
            return !leads.empty() && leads.front() != visit.line;
        });
    }

    void follow(const std::vector<LineSettings>& leads) {
        for (auto lead = leads.rbegin(); lead != leads.rend(); ++lead) {
            std::uint8_t& followed = followed_[probeNumber(*lead) - 1];
            if (followed < kMostLeadsPerSetting) {
                ++followed;
                const std::chrono::milliseconds wait = leadWait(*lead);
                plan_.push_front(Visit{*lead, wait, wait});
            }
        }
    }

    ReceiverLink& link_;
    std::string_view name_;
    const ProbeReport& onProbe_;
    std::deque<Visit> plan_;
    std::array<std::uint8_t, kProbeCount> followed_{};
};

}  // namespace

SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options) {
    const std::uint64_t heardBefore = link.bytesHeard();
    if (QuickPass(link, kQuickPass, options.onProbe).run()) {
        return SearchOutcome::Found;
    }
    if (link.cancellation().raised()) {
        return SearchOutcome::NotFound;
    }
    if (!options.fullPassWhenSilent && link.bytesHeard() == heardBefore) {
        return SearchOutcome::Silent;
    }
    return searchPass(link, false, kFullPass, options.onProbe) ? SearchOutcome::Found
                                                               : SearchOutcome::NotFound;
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
