#include "sim/line_transmitter.h"

#include <algorithm>

namespace kestrune {

namespace {

// xorshift32: small, seedable and the same everywhere, so a seed replays the same gaps.
constexpr std::uint32_t kShiftA = 13;
constexpr std::uint32_t kShiftB = 17;
constexpr std::uint32_t kShiftC = 5;
constexpr std::uint32_t kNonZeroSeed = 1;
constexpr double kGeneratorRange = 4294967296.0;

}  // namespace

LineTransmitter::LineTransmitter(const SimClock& clock, std::size_t capacity, double longestGapBits,
                                 std::uint32_t gapSeed, const UartModel& model)
    : clock_(clock),
      capacity_(capacity),
      longestGapBits_(longestGapBits),
      line_(clock, model),
      gapState_(gapSeed == 0 ? kNonZeroSeed : gapSeed) {}

std::size_t LineTransmitter::queue(std::span<const std::uint8_t> bytes, SimTime readyAt,
                                   const LineSettings& sender) {
    const std::size_t taken = std::min(bytes.size(), room());
    if (taken == 0) {
        return 0;
    }
    chunks_.push_back(
        Chunk{std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + taken), 0, readyAt, sender});
    waiting_ += taken;
    return taken;
}

bool LineTransmitter::idle(const LineSettings* receiver) const {
    return chunks_.empty() && (receiver == nullptr || !line_.nextArrival(*receiver));
}

void LineTransmitter::retune(const LineSettings& sender) {
    for (Chunk& chunk : chunks_) {
        chunk.sender = sender;
    }
}

void LineTransmitter::clear() {
    chunks_.clear();
    waiting_ = 0;
    line_.clear();
}

std::optional<SimTime> LineTransmitter::nextStart() const {
    if (chunks_.empty()) {
        return std::nullopt;
    }
    const Chunk& chunk = chunks_.front();
    return std::max(lineFreeAt_ + gap_, chunk.readyAt);
}

std::optional<SimTime> LineTransmitter::nextDue(const LineSettings* receiver) const {
    std::optional<SimTime> due = nextStart();
    if (receiver != nullptr) {
        if (const auto arrival = line_.nextArrival(*receiver);
            arrival && (!due || *arrival < *due)) {
            due = arrival;
        }
    }
    return due;
}

void LineTransmitter::drain(SimTime limit, const LineSettings* receiver, LineListener& listener) {
    if (receiver == nullptr) {
        return;
    }
    while (const auto got = line_.receive(limit, *receiver)) {
        listener.received(*got);
    }
}

// Everything that arrives before a character starts is handed on first: its listener may switch
// the far end's settings, and the next character is then heard at the new ones.
void LineTransmitter::pump(SimTime now, const LineSettings* receiver, LineListener& listener) {
    for (auto start = nextStart(); start && *start <= now; start = nextStart()) {
        drain(*start, receiver, listener);
        Chunk& chunk = chunks_.front();
        const std::uint8_t byte = chunk.bytes[chunk.next];
        if (receiver != nullptr) {
            line_.send(byte, *start, chunk.sender);
        }
        lineFreeAt_ = *start + line_.characterTime(chunk.sender);
        gap_ = drawGap(chunk.sender);
        listener.leaving(byte, chunk.sender, chunk.next == 0);
        --waiting_;
        if (++chunk.next == chunk.bytes.size()) {
            chunks_.pop_front();
        }
    }
    drain(now, receiver, listener);
}

SimDuration LineTransmitter::drawGap(const LineSettings& sender) {
    if (longestGapBits_ <= 0.0) {
        return SimDuration::zero();
    }
    gapState_ ^= gapState_ << kShiftA;
    gapState_ ^= gapState_ >> kShiftB;
    gapState_ ^= gapState_ << kShiftC;
    return clock_.bitsTime(longestGapBits_ * gapState_ / kGeneratorRange, sender.baud);
}

}  // namespace kestrune
