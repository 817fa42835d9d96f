// The GSV sentence: the satellites in view, four to a sentence at most, each with its PRN,
// elevation, azimuth and signal-to-noise ratio:
//   $GPGSV,2,2,07,19,19,256,39,26,11,077,33,30,06,335,*41
// sentences in the set, this one's number, satellites in view, then the satellites. A satellite
// in view but not tracked has an empty SNR.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrune {

struct GsvSatellite {
    std::uint8_t prn = 0;
    std::int32_t snrDbHz = 0;  // 0 while the satellite is not tracked
    bool operator==(const GsvSatellite&) const = default;
};

inline constexpr std::size_t kGsvSatellitesPerSentence = 4;

struct GsvSatellites {
    std::array<GsvSatellite, kGsvSatellitesPerSentence> entries{};
    std::size_t count = 0;
    std::span<const GsvSatellite> view() const { return std::span(entries).first(count); }
};

// The satellites of one sentence as the framer returns it ('$' up to, not including, the CR), in
// the order sent. Nothing for a sentence that is not GSV, fails its checksum or lacks its three
// leading numbers. A satellite whose PRN is empty or no number from 1 to 255, or whose SNR is no
// number from 0 to 99, is left out; the others are kept.
std::optional<GsvSatellites> decodeGsv(std::span<const std::uint8_t> sentence);

}  // namespace kestrune
