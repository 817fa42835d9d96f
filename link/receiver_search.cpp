// The quick pass asks at each setting in turn and waits only for the question and a reply to
// cross the line. That finds a TSIP receiver, which answers at once; a receiver sending NMEA
// never answers and speaks only once per output interval, so the quick pass also reads what it
// hears at each setting and follows it:
//   - text with characters of both bit weights: the setting is the receiver's; listen on there
//     for a sentence whose checksum holds;
//   - text with no character of odd weight: the rate is right and the parity is not (only the
//     characters whose parity bit reads as a stop bit get through); try the other parity;
//   - framed messages: the setting is the receiver's; ask again and listen on;
//   - a stream whose bits change much less often than random ones: the port listens faster than
//     the receiver talks, and the fraction of changes tells by how much; go to that rate;
//   - anything else: the receiver talks faster than the port listens; listen at the fastest
//     rate, where the next burst tells its rate.
// Every lead is only a place to listen: what finds the receiver is still its own answer there.
#include "link/receiver_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>

#include "link/heard_tally.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes heard before what they show is trusted.
constexpr std::uint32_t kVerdictBytes = 16;
// A stream at least this much text is sentences at the right rate.
constexpr double kTextShare = 0.9;
// Random bits change in half the pairs; a sender's bits heard r times over change in about
// kChangeScale / r of them (a little over a half, for the start and stop bits).
constexpr double kChangeScale = 0.6;
constexpr double kSlowerBelow = 0.4;
// Messages that make a setting the receiver's though nothing answered yet.
constexpr std::uint32_t kFramedMessages = 2;
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

// The offered rate below heardAt whose ratio to it is nearest what the bit changes show.
std::uint32_t slowerRate(std::uint32_t heardAt, double changeFraction) {
    const double ratio = std::log2(kChangeScale / std::max(changeFraction, 1e-3));
    std::uint32_t best = heardAt;
    double bestGap = ratio;
    for (const BaudRate& rate : kBaudRates) {
        const double gap = std::abs(std::log2(double(heardAt) / rate.baud) - ratio);
        if (rate.baud < heardAt && gap < bestGap) {
            best = rate.baud;
            bestGap = gap;
        }
    }
    return best;
}

// Where to listen next after hearing tally at heardAt; empty while too little was heard.
std::vector<LineSettings> leadsFrom(const HeardTally& tally, const LineSettings& heardAt) {
    if (tally.messages >= kFramedMessages) {
        return {heardAt};
    }
    if (tally.bytes < kVerdictBytes) {
        return {};
    }
    if (tally.textFraction() >= kTextShare) {
        if (tally.oddText == 0) {
            return {withParity(heardAt, otherParity(heardAt.parity))};
        }
        return {heardAt};
    }
    if (tally.changeFraction() < kSlowerBelow) {
        const std::uint32_t rate = slowerRate(heardAt.baud, tally.changeFraction());
        if (rate != heardAt.baud) {
            return {LineSettings{rate, Parity::None, StopBits::One},
                    LineSettings{rate, Parity::Odd, StopBits::One}};
        }
    }
    if (heardAt.baud != kListeningPost.baud) {
        return {kListeningPost};
    }
    return {};
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
            // Heard something but not yet enough to tell: listen for a verdict's worth more.
            const std::chrono::milliseconds more =
                lineTime(2 * kVerdictBytes, line, link.timing().factor);
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
            follow(leadsFrom(link_.heardHere(), visit.line));
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
            const std::vector<LineSettings> leads = leadsFrom(tally, visit.line);
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

bool readReceiverSettings(ReceiverLink& link, NotificationSink* window) {
    link.setWindow(window);
    if (findReceiver(link) != SearchOutcome::Found) {
        return false;
    }
    requestNmeaSelection(link);
    if (link.cancellation().raised()) {
        link.clearVerified();
        return false;
    }
    return true;
}

}  // namespace kestrune
