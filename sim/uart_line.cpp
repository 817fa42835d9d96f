#include "sim/uart_line.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestrune {

namespace {

constexpr double kMidBit = 0.5;
constexpr std::uint8_t kMarkByte = 0xFF;
constexpr std::uint8_t kMarkFollower = 0x00;
constexpr std::uint8_t kErrorByte = 0x00;

constexpr std::uint32_t kSlowestRate = kBaudRates.front().baud;
constexpr std::uint32_t kFastestRate = kBaudRates.back().baud;
constexpr std::uint32_t kLongestCharacter = bitsPerByte({0, Parity::Odd, StopBits::Two});
constexpr std::uint32_t kShortestCharacter = bitsPerByte({0, Parity::None, StopBits::One});
// The characters at the fastest rate that one character at the slowest spans, and one on
// either side of it.
static_assert(kLongestCharacter * kFastestRate / (kSlowestRate * kShortestCharacter) + 2 <=
                  UartLine::kCapacity,
              "the ring must hold every character one slow character spans");

bool hasParity(const LineSettings& line) {
    return line.parity != Parity::None;
}

bool bitOf(std::uint16_t frame, std::uint32_t index) {
    return ((frame >> index) & 1u) != 0;
}

}  // namespace

SimTime UartLine::endOf(const Sent& sent) const {
    return sent.start + bitsTime(sent.bits, sent.baud);
}

void UartLine::send(std::uint8_t byte, SimTime start, const LineSettings& sender) {
    if (count_ == kCapacity) {
        head_ = (head_ + 1) % kCapacity;  // cannot happen at offered rates; keeps the newest
        --count_;
    }
    ring_[(head_ + count_) % kCapacity] =
        Sent{start, characterLevels(byte, sender), static_cast<std::uint8_t>(bitsPerByte(sender)),
             senderRate(sender)};
    ++count_;
}

void UartLine::clear() {
    head_ = 0;
    count_ = 0;
    listenAfter_ = SimTime::min();
    restartEdge_.reset();
}

// High while idle; inside a character, the level of the bit under way.
bool UartLine::level(SimTime when) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const Sent& sent = at(i);
        if (when < sent.start) {
            return true;
        }
        if (when >= endOf(sent)) {
            continue;
        }
        const double bitNanos = bitsTime(1.0, sent.baud).count();
        auto index = static_cast<std::uint32_t>(
            std::floor(static_cast<double>((when - sent.start).count()) / bitNanos));
        index = std::min<std::uint32_t>(index, sent.bits - 1U);
        while (index > 0 && sent.start + bitsTime(index, sent.baud) > when) {
            --index;
        }
        while (index + 1 < sent.bits && sent.start + bitsTime(index + 1, sent.baud) <= when) {
            ++index;
        }
        return bitOf(sent.frame, index);
    }
    return true;
}

// The line is high before every start bit, so each start bit is a falling edge; inside a
// character, so is every low bit after a high one.
std::optional<SimTime> UartLine::edgeWithin(const Sent& sent, SimTime after) const {
    for (std::uint32_t index = 0; index < sent.bits; ++index) {
        const bool falls =
            !bitOf(sent.frame, index) && (index == 0 || bitOf(sent.frame, index - 1));
        const SimTime when = sent.start + bitsTime(index, sent.baud);
        if (falls && when > after) {
            return when;
        }
    }
    return std::nullopt;
}

std::optional<SimTime> UartLine::nextFallingEdge(SimTime after) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (endOf(at(i)) > after) {
            if (const auto edge = edgeWithin(at(i), after)) {
                return edge;
            }
        }
    }
    return std::nullopt;
}

std::optional<SimTime> UartLine::nextStartEdge() const {
    return restartEdge_ ? restartEdge_ : nextFallingEdge(listenAfter_);
}

// Native USB: the next character sent after the last one handed on, whole.
const UartLine::Sent* UartLine::nextWhole() const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (at(i).start > listenAfter_) {
            return &at(i);
        }
    }
    return nullptr;
}

std::optional<SimTime> UartLine::nextArrival(const LineSettings& receiver) const {
    if (model_.nativeUsb) {
        const Sent* whole = nextWhole();
        return whole != nullptr ? std::optional<SimTime>(endOf(*whole)) : std::nullopt;
    }
    const auto edge = nextStartEdge();
    if (!edge) {
        return std::nullopt;
    }
    return *edge + bitsTime(bitsPerByte(receiver), receiver.baud);
}

std::optional<UartChar> UartLine::receive(SimTime limit, const LineSettings& receiver) {
    // No UART between the ends: each character arrives as it was sent, however either end's
    // settings changed while it crossed.
    if (model_.nativeUsb) {
        const Sent* whole = nextWhole();
        if (whole == nullptr || endOf(*whole) > limit) {
            return std::nullopt;
        }
        const UartChar got{.byte = static_cast<std::uint8_t>(whole->frame >> kLineStartBits),
                           .at = endOf(*whole)};
        listenAfter_ = whole->start;
        dropPassed();
        return got;
    }
    const auto sample = [&](SimTime start, double bit) {
        return level(start + bitsTime(bit + kMidBit, receiver.baud));
    };
    for (auto edge = nextStartEdge(); edge; edge = nextStartEdge()) {
        const SimTime startSample = *edge + bitsTime(kMidBit, receiver.baud);
        if (startSample > limit) {
            return std::nullopt;
        }
        if (!restartEdge_ && level(startSample)) {
            listenAfter_ = startSample;  // high again by mid-bit: not a start bit
            dropPassed();
            continue;
        }
        const SimTime complete = *edge + bitsTime(bitsPerByte(receiver), receiver.baud);
        if (complete > limit) {
            return std::nullopt;
        }
        UartChar got{.at = complete};
        for (std::uint32_t bit = 0; bit < kLineDataBits; ++bit) {
            got.byte |=
                static_cast<std::uint8_t>(sample(*edge, kLineStartBits + bit) ? 1u << bit : 0u);
        }
        std::uint32_t next = kLineStartBits + kLineDataBits;
        bool parityBit = false;
        if (hasParity(receiver)) {
            parityBit = sample(*edge, next++);
            const bool oddOnes = ((std::popcount(got.byte) + (parityBit ? 1 : 0)) % 2) != 0;
            got.parityError = receiver.parity == Parity::Odd ? !oddOnes : oddOnes;
        }
        const bool stopBit = sample(*edge, next);
        got.framingError = !stopBit;
        got.lineBreak = got.byte == 0 && !parityBit && !stopBit;
        listenAfter_ = *edge + bitsTime(next + kMidBit, receiver.baud);
        restartEdge_.reset();
        if (got.framingError && !got.lineBreak && model_.resync == FramingResync::LowStopSample) {
            restartEdge_ = listenAfter_ - bitsTime(kMidBit, receiver.baud);
        }
        dropPassed();
        return got;
    }
    return std::nullopt;
}

void UartLine::dropPassed() {
    while (count_ > 0 && endOf(at(0)) <= listenAfter_) {
        head_ = (head_ + 1) % kCapacity;
        --count_;
    }
}

std::size_t hostInput(const UartChar& received, const InputErrorHandling& handling,
                      std::array<std::uint8_t, 3>& out) {
    const auto put = [&out](std::initializer_list<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), out.begin());
        return bytes.size();
    };
    if (received.lineBreak) {
        if (handling.ignoreBreak) {
            return 0;
        }
        return handling.mark ? put({kMarkByte, kMarkFollower, kErrorByte}) : put({kErrorByte});
    }
    if (handling.check && (received.parityError || received.framingError)) {
        if (handling.ignore) {
            return 0;
        }
        return handling.mark ? put({kMarkByte, kMarkFollower, received.byte}) : put({kErrorByte});
    }
    if (handling.mark && received.byte == kMarkByte) {
        return put({kMarkByte, kMarkByte});
    }
    return put({received.byte});
}

}  // namespace kestrune
