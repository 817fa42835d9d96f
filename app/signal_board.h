// What the signal panel shows, apart from how it is painted: the last level heard from each
// satellite, how long ago that was, and what the level is worth.
//
// A level is the carrier-to-noise ratio in dB-Hz, and its worth is judged by what a receiver
// can do with it: below about 30 dB-Hz it can hardly read the navigation message and loses lock
// at the slightest shade, so a sky of such signals points at the antenna or its cable; from about
// 40 dB-Hz a signal is as good as an open sky gives (clear-sky levels run 40 to 50 dB-Hz).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

enum class SignalStrength { Weak, Usable, Strong };

// The first level of each band; the thresholds of the heuristic above.
inline constexpr std::int32_t kUsableFromDbHz = 30;
inline constexpr std::int32_t kStrongFromDbHz = 40;

SignalStrength strengthOf(std::int32_t level);
// "weak", "usable", "strong".
const char* strengthWord(SignalStrength strength);

struct SatelliteBar {
    std::uint8_t prn = 0;
    std::int32_t level = 0;
    SignalStrength strength = SignalStrength::Weak;
    // Not heard for a while: shown, but greyed out.
    bool stale = false;
    std::chrono::seconds unheard{0};
    bool operator==(const SatelliteBar&) const = default;
};

class SignalBoard {
  public:
    using Clock = std::chrono::steady_clock;
    // A receiver reports every satellite it tracks once a second; ten reports missed mean it has
    // lost the satellite, thirty that it will not soon find it again.
    static constexpr Clock::duration kGreyAfter = std::chrono::seconds{10};
    static constexpr Clock::duration kDropAfter = std::chrono::seconds{30};

    // A level below 0 counts as 0.
    void note(std::uint8_t prn, std::int32_t level, Clock::time_point at);
    // The satellites heard within kDropAfter of now, in PRN order.
    std::vector<SatelliteBar> bars(Clock::time_point now) const;
    // When any level was last noted; nothing before the first.
    std::optional<Clock::time_point> lastHeard() const { return lastHeard_; }

  private:
    struct Heard {
        std::int32_t level = 0;
        Clock::time_point at{};
        bool ever = false;
    };
    static constexpr std::size_t kPrns = 256;
    std::array<Heard, kPrns> heard_{};
    std::optional<Clock::time_point> lastHeard_;
};

// "PRN 7: 48 dB-Hz, strong", with ", not heard for 12 s" once the bar is stale.
std::string barText(const SatelliteBar& bar);
// "No satellites reported yet", or "No satellites: the last was heard 42 s ago".
std::string noSatellitesText(std::optional<SignalBoard::Clock::time_point> lastHeard,
                             SignalBoard::Clock::time_point now);

}  // namespace kestrune
