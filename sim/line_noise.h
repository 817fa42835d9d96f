// What a port hears where no receiver talks at its setting but the line is not quiet: another
// device's traffic, or a line picking up interference. Every burst holds random bytes, a
// well-formed TSIP packet of an ID no search takes for an answer, and a sentence whose checksum
// is wrong, so that it looks as much like a receiver as noise can without being one.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace kestrune {

// Where the virtual receiver's line carries noise for the host.
enum class LineNoise {
    None,
    OtherSettings,  // at every host setting but the receiver's own rate and parity
    Only,           // at every setting, and no receiver: nothing answers, nothing streams
};

// A burst starts this often, each once the previous one has left the line.
inline constexpr std::chrono::milliseconds kNoiseInterval{30};

// The index'th burst of the stream seed: the same bytes every time.
std::vector<std::uint8_t> noiseBurst(std::uint32_t seed, std::uint32_t index);

}  // namespace kestrune
