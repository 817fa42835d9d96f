// What the reader heard at one line setting, counted byte by byte: how many bytes, how much of
// the latest could be NMEA text, and how many have the shape of bytes heard from a slower sender.
// A UART listening faster than the sender samples each of the sender's bits several times, least
// significant first, so every character it hears is made of runs as long as the ratio of the two
// rates. A search reads these counts to tell where a talking receiver is.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>

namespace kestrune {

struct HeardTally {
    std::uint32_t bytes = 0;
    // Of the last kRecent bytes: printable ASCII, CR and LF, what sentences are made of; and of
    // those, the ones with an odd number of one bits. A port without parity that listens to a
    // sender with odd parity keeps only the characters whose parity bit reads as a stop bit,
    // which are those with an even number of ones. Only recent bytes count, as a port that starts
    // listening in the middle of a stream takes a while to find the characters' start bits.
    std::uint32_t recentText = 0;
    std::uint32_t recentOddText = 0;
    // Bytes shaped as heard from a sender 2, 4 and 8 times slower (kSlowerShapes). A port that
    // samples each bit of a slower sender r times starts every character on a low bit of the
    // sender's, samples it r - 1 times more, then each later bit r times; random bytes have
    // one in 16, 64 and 128 of these shapes.
    std::array<std::uint32_t, 3> slowerShapes{};
    // Messages the framer completed: a sender heard whole.
    std::uint32_t messages = 0;
    bool operator==(const HeardTally&) const = default;

    static constexpr std::uint32_t kRecent = 16;
    static constexpr std::array<std::uint32_t, 3> kSlowerRatios{2, 4, 8};
    std::uint32_t recent() const { return std::min(bytes, kRecent); }
};

inline constexpr std::uint8_t kFirstPrintable = 0x20;
inline constexpr std::uint8_t kLastPrintable = 0x7E;
inline constexpr std::uint8_t kCarriageReturn = 0x0D;
inline constexpr std::uint8_t kLineFeed = 0x0A;

constexpr bool isSentenceText(std::uint8_t byte) {
    return (byte >= kFirstPrintable && byte <= kLastPrintable) || byte == kCarriageReturn ||
           byte == kLineFeed;
}

// Whether byte has the shape a port hears from a sender ratio times slower: the first ratio - 1
// bits zero, the rest in runs of ratio equal bits (cut at the byte's end).
constexpr bool slowerShape(std::uint8_t byte, std::uint32_t ratio) {
    constexpr std::uint32_t kBitsPerByte = 8;
    if ((byte & ((1U << (ratio - 1)) - 1)) != 0) {
        return false;
    }
    for (std::uint32_t bit = ratio; bit < kBitsPerByte; ++bit) {
        const std::uint32_t runStart = ratio - 1 + ((bit - (ratio - 1)) / ratio) * ratio;
        if (((byte >> bit) & 1U) != ((byte >> runStart) & 1U)) {
            return false;
        }
    }
    return true;
}

// What the tally notes of each byte value, worked out once: whether it is text, odd-weight text,
// and which slower sender's shape it has (bit i for kSlowerRatios[i]).
struct ByteTraits {
    bool text = false;
    bool oddText = false;
    std::uint8_t shapes = 0;
};

constexpr std::array<ByteTraits, 256> makeByteTraits() {
    std::array<ByteTraits, 256> traits{};
    for (std::size_t value = 0; value < traits.size(); ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        traits[value].text = isSentenceText(byte);
        traits[value].oddText = traits[value].text && (std::popcount(byte) & 1) != 0;
        for (std::size_t i = 0; i < HeardTally::kSlowerRatios.size(); ++i) {
            if (slowerShape(byte, HeardTally::kSlowerRatios[i])) {
                traits[value].shapes |= static_cast<std::uint8_t>(1U << i);
            }
        }
    }
    return traits;
}
inline constexpr std::array<ByteTraits, 256> kByteTraits = makeByteTraits();

// The reader's running tally: it adds, a procedure clears and reads, each count atomic. A count
// read while a byte is being added may be one byte behind another, which no verdict notices.
// Adding is a table look-up and a few relaxed stores: it runs for every byte the reader takes.
class HeardCounters {
  public:
    void add(std::uint8_t byte) {
        const ByteTraits& traits = kByteTraits[byte];
        bytes_.fetch_add(1, std::memory_order_relaxed);
        for (std::size_t i = 0; traits.shapes != 0 && i < slowerShapes_.size(); ++i) {
            if ((traits.shapes & (1U << i)) != 0) {
                slowerShapes_[i].fetch_add(1, std::memory_order_relaxed);
            }
        }
        // Two shift registers of the last kRecent bytes in one word: text, odd-weight text.
        const bool text = traits.text;
        const bool odd = traits.oddText;
        const std::uint64_t flags = recentFlags_.load(std::memory_order_relaxed);
        recentFlags_.store(((flags << 1) & ~kOddFlag) | (text ? 1U : 0U) | (odd ? kOddFlag : 0U),
                           std::memory_order_relaxed);
    }
    void addMessage() { messages_.fetch_add(1, std::memory_order_relaxed); }
    void clear() {
        bytes_.store(0, std::memory_order_relaxed);
        recentFlags_.store(0, std::memory_order_relaxed);
        for (auto& count : slowerShapes_) {
            count.store(0, std::memory_order_relaxed);
        }
        messages_.store(0, std::memory_order_relaxed);
    }
    HeardTally snapshot() const {
        const std::uint64_t flags = recentFlags_.load(std::memory_order_relaxed);
        HeardTally tally;
        tally.bytes = bytes_.load(std::memory_order_relaxed);
        tally.recentText = static_cast<std::uint32_t>(std::popcount(flags & kTextMask));
        tally.recentOddText = static_cast<std::uint32_t>(std::popcount(flags & kOddMask));
        for (std::size_t i = 0; i < slowerShapes_.size(); ++i) {
            tally.slowerShapes[i] = slowerShapes_[i].load(std::memory_order_relaxed);
        }
        tally.messages = messages_.load(std::memory_order_relaxed);
        return tally;
    }

  private:
    static constexpr std::uint64_t kTextMask = (std::uint64_t{1} << HeardTally::kRecent) - 1;
    static constexpr std::uint64_t kOddMask = kTextMask << HeardTally::kRecent;
    static constexpr std::uint64_t kOddFlag = std::uint64_t{1} << HeardTally::kRecent;

    std::atomic<std::uint32_t> bytes_{0};
    std::atomic<std::uint64_t> recentFlags_{0};
    std::array<std::atomic<std::uint32_t>, 3> slowerShapes_{};
    std::atomic<std::uint32_t> messages_{0};
};

}  // namespace kestrune
