// What the reader heard at one line setting, counted byte by byte: how many bytes, how much of
// the latest could be NMEA text, and how the bytes begin. A UART listening faster than the sender
// samples each of the sender's bits several times, least significant first, so every character
// it hears begins with a run of zeros as long as the ratio of the two rates. A search reads these
// counts to tell where a talking receiver is.
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
    // Bytes whose first 1, 3 and 7 bits are zero. A port that samples each bit of a slower sender
    // r times starts every character on a low bit of the sender's and samples it r - 1 times more
    // (random bytes have one in 2, 8 and 128 such).
    std::array<std::uint32_t, 3> lowStarts{};
    // Messages the framer completed: a sender heard whole.
    std::uint32_t messages = 0;
    bool operator==(const HeardTally&) const = default;

    static constexpr std::uint32_t kRecent = 32;
    static constexpr std::array<int, 3> kLowStartBits{1, 3, 7};
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

// The reader's running tally: it adds, a procedure clears and reads, each count atomic. A count
// read while a byte is being added may be one byte behind another, which no verdict notices.
class HeardCounters {
  public:
    void add(std::uint8_t byte) {
        bytes_.fetch_add(1, std::memory_order_relaxed);
        for (std::size_t i = 0; i < lowStarts_.size(); ++i) {
            if (std::countr_zero(byte) >= HeardTally::kLowStartBits[i]) {
                lowStarts_[i].fetch_add(1, std::memory_order_relaxed);
            }
        }
        // Two shift registers of the last kRecent bytes in one word: text, odd-weight text.
        const bool text = isSentenceText(byte);
        const bool odd = text && (std::popcount(byte) & 1) != 0;
        const std::uint64_t flags = recentFlags_.load(std::memory_order_relaxed);
        recentFlags_.store(((flags << 1) & ~kOddFlag) | (text ? 1U : 0U) | (odd ? kOddFlag : 0U),
                           std::memory_order_relaxed);
    }
    void addMessage() { messages_.fetch_add(1, std::memory_order_relaxed); }
    void clear() {
        bytes_.store(0, std::memory_order_relaxed);
        recentFlags_.store(0, std::memory_order_relaxed);
        for (auto& count : lowStarts_) {
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
        for (std::size_t i = 0; i < lowStarts_.size(); ++i) {
            tally.lowStarts[i] = lowStarts_[i].load(std::memory_order_relaxed);
        }
        tally.messages = messages_.load(std::memory_order_relaxed);
        return tally;
    }

  private:
    static constexpr std::uint64_t kTextMask = 0xFFFF'FFFFU;
    static constexpr std::uint64_t kOddMask = kTextMask << HeardTally::kRecent;
    static constexpr std::uint64_t kOddFlag = std::uint64_t{1} << HeardTally::kRecent;

    std::atomic<std::uint32_t> bytes_{0};
    std::atomic<std::uint64_t> recentFlags_{0};
    std::array<std::atomic<std::uint32_t>, 3> lowStarts_{};
    std::atomic<std::uint32_t> messages_{0};
};

}  // namespace kestrune
