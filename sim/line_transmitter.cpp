#include "sim/line_transmitter.h"

#include <algorithm>
#include <array>

namespace kestrune {

namespace {

// What a UART reading at the wrong rate typically makes of a byte: mostly runs of ones and
// zeros. None of these is a DLE (0x10) or '$' (0x24).
constexpr std::array<std::uint8_t, 9> kJunk{0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};
constexpr bool junkIsInert() {
    return std::none_of(kJunk.begin(), kJunk.end(),
                        [](std::uint8_t b) { return b == 0x10 || b == '$'; });
}
static_assert(junkIsInert(), "noise must never open a packet or a sentence");

// xorshift32: small, seedable and the same everywhere, so a seed replays the same noise.
constexpr std::uint32_t kShiftA = 13;
constexpr std::uint32_t kShiftB = 17;
constexpr std::uint32_t kShiftC = 5;
constexpr std::uint32_t kNonZeroSeed = 1;

bool listensAt(const LineSettings& host, const LineSettings& own) {
    return host.baud == own.baud && host.parity == own.parity;
}

}  // namespace

LineTransmitter::LineTransmitter(const SimClock& clock, std::uint32_t noiseSeed)
    : clock_(clock), noiseState_(noiseSeed == 0 ? kNonZeroSeed : noiseSeed) {}

void LineTransmitter::queue(std::vector<std::uint8_t> bytes, SimTime readyAt) {
    if (!bytes.empty()) {
        chunks_.push_back(Chunk{std::move(bytes), 0, readyAt});
    }
}

std::optional<SimTime> LineTransmitter::nextDue(const LineSettings& own) const {
    if (chunks_.empty()) {
        return std::nullopt;
    }
    const SimTime start = std::max(lineFreeAt_, chunks_.front().readyAt);
    return start + clock_.byteTime(own.baud, bitsPerByte(own));
}

void LineTransmitter::sendDue(SimTime now, const LineState& line) {
    const SimDuration byteTime = clock_.byteTime(line.own.baud, bitsPerByte(line.own));
    while (!chunks_.empty()) {
        Chunk& chunk = chunks_.front();
        const SimTime done = std::max(lineFreeAt_, chunk.readyAt) + byteTime;
        if (done > now) {
            return;
        }
        lineFreeAt_ = done;
        const std::uint8_t byte = chunk.bytes[chunk.next++];
        if (line.listener != nullptr) {
            if (listensAt(line.host, line.own)) {
                line.listener->deliver(byte);
            } else if (line.noise) {
                line.listener->deliver(junk());
            }
        }
        if (chunk.next == chunk.bytes.size()) {
            chunks_.pop_front();
        }
    }
}

std::uint8_t LineTransmitter::junk() {
    noiseState_ ^= noiseState_ << kShiftA;
    noiseState_ ^= noiseState_ >> kShiftB;
    noiseState_ ^= noiseState_ << kShiftC;
    return kJunk[noiseState_ % kJunk.size()];
}

}  // namespace kestrune
