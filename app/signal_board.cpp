#include "app/signal_board.h"

#include <algorithm>

namespace kestrune {

SignalStrength strengthOf(std::int32_t level) {
    if (level >= kStrongFromDbHz) {
        return SignalStrength::Strong;
    }
    return level >= kUsableFromDbHz ? SignalStrength::Usable : SignalStrength::Weak;
}

const char* strengthWord(SignalStrength strength) {
    switch (strength) {
        case SignalStrength::Weak:
            return "weak";
        case SignalStrength::Usable:
            return "usable";
        case SignalStrength::Strong:
            return "strong";
    }
    return "";
}

void SignalBoard::note(std::uint8_t prn, std::int32_t level, Clock::time_point at) {
    heard_[prn] = {std::max(level, 0), at, true};
    lastHeard_ = std::max(lastHeard_.value_or(at), at);
}

std::vector<SatelliteBar> SignalBoard::bars(Clock::time_point now) const {
    std::vector<SatelliteBar> bars;
    for (std::size_t prn = 0; prn < kPrns; ++prn) {
        const Heard& satellite = heard_[prn];
        const Clock::duration unheard = std::max(now - satellite.at, Clock::duration::zero());
        if (!satellite.ever || unheard >= kDropAfter) {
            continue;
        }
        bars.push_back({static_cast<std::uint8_t>(prn), satellite.level,
                        strengthOf(satellite.level), unheard >= kGreyAfter,
                        std::chrono::duration_cast<std::chrono::seconds>(unheard)});
    }
    return bars;
}

std::string barText(const SatelliteBar& bar) {
    std::string text = "PRN " + std::to_string(bar.prn) + ": " + std::to_string(bar.level) +
                       " dB-Hz, " + strengthWord(bar.strength);
    if (bar.stale) {
        text += ", not heard for " + std::to_string(bar.unheard.count()) + " s";
    }
    return text;
}

std::string noSatellitesText(std::optional<SignalBoard::Clock::time_point> lastHeard,
                             SignalBoard::Clock::time_point now) {
    if (!lastHeard) {
        return "No satellites reported yet";
    }
    const auto ago = std::chrono::duration_cast<std::chrono::seconds>(
        std::max(now - *lastHeard, SignalBoard::Clock::duration::zero()));
    return "No satellites: the last was heard " + std::to_string(ago.count()) + " s ago";
}

}  // namespace kestrune
