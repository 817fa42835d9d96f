// What the reader heard at one line setting, counted byte by byte: how many bytes, how many of
// them could be NMEA text, and the bit statistics of the bytes taken as one bitstream, least
// significant bit first. A UART listening faster than the sender samples each of its bits several
// times, so the stream it hears has long runs of equal bits: the fraction of adjacent bits that
// differ falls with the ratio of the two rates. A search reads these counts to tell where a
// talking receiver is.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

namespace kestrune {

struct HeardTally {
    std::uint32_t bytes = 0;
    // Printable ASCII, CR and LF: what sentences are made of.
    std::uint32_t text = 0;
    // Text bytes with an odd number of one bits. A port without parity that listens to a sender
    // with odd parity keeps only the characters whose parity bit reads as a stop bit, which are
    // those with an even number of ones: text heard there has none of these.
    std::uint32_t oddText = 0;
    // Adjacent bit pairs of the stream that differ.
    std::uint32_t bitChanges = 0;
    // Messages the framer completed: a sender heard whole.
    std::uint32_t messages = 0;
    bool operator==(const HeardTally&) const = default;

    static constexpr std::uint32_t kBitsPerByte = 8;
    std::uint32_t bitPairs() const { return bytes == 0 ? 0 : bytes * kBitsPerByte - 1; }
    double changeFraction() const {
        return bitPairs() == 0 ? 0.0 : static_cast<double>(bitChanges) / bitPairs();
    }
    double textFraction() const { return bytes == 0 ? 0.0 : static_cast<double>(text) / bytes; }
};

inline constexpr std::uint8_t kFirstPrintable = 0x20;
inline constexpr std::uint8_t kLastPrintable = 0x7E;
inline constexpr std::uint8_t kCarriageReturn = 0x0D;
inline constexpr std::uint8_t kLineFeed = 0x0A;

constexpr bool isSentenceText(std::uint8_t byte) {
    return (byte >= kFirstPrintable && byte <= kLastPrintable) || byte == kCarriageReturn ||
           byte == kLineFeed;
}

// Bit changes inside a byte and across from the previous byte's last bit.
constexpr std::uint32_t bitChangesOf(std::uint8_t byte, std::uint8_t previous, bool first) {
    constexpr std::uint8_t kInnerPairs = 0x7F;
    constexpr int kLastBit = 7;
    const auto inner = static_cast<std::uint32_t>(
        std::popcount(static_cast<std::uint8_t>((byte ^ (byte >> 1)) & kInnerPairs)));
    const auto across = static_cast<std::uint32_t>(((previous >> kLastBit) ^ byte) & 1U);
    return inner + (first ? 0 : across);
}

// The reader's running tally: it adds, a procedure clears and reads, each count atomic. A count
// read while a byte is being added may be one byte behind another, which no verdict notices.
class HeardCounters {
  public:
    void add(std::uint8_t byte) {
        const std::uint32_t before = bytes_.fetch_add(1, std::memory_order_relaxed);
        bitChanges_.fetch_add(bitChangesOf(byte, previous_, before == 0),
                              std::memory_order_relaxed);
        previous_ = byte;
        if (isSentenceText(byte)) {
            text_.fetch_add(1, std::memory_order_relaxed);
            if ((std::popcount(byte) & 1) != 0) {
                oddText_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    void addMessage() { messages_.fetch_add(1, std::memory_order_relaxed); }
    void clear() {
        bytes_.store(0, std::memory_order_relaxed);
        text_.store(0, std::memory_order_relaxed);
        oddText_.store(0, std::memory_order_relaxed);
        bitChanges_.store(0, std::memory_order_relaxed);
        messages_.store(0, std::memory_order_relaxed);
    }
    HeardTally snapshot() const {
        return HeardTally{
            bytes_.load(std::memory_order_relaxed), text_.load(std::memory_order_relaxed),
            oddText_.load(std::memory_order_relaxed), bitChanges_.load(std::memory_order_relaxed),
            messages_.load(std::memory_order_relaxed)};
    }

  private:
    std::atomic<std::uint32_t> bytes_{0};
    std::atomic<std::uint32_t> text_{0};
    std::atomic<std::uint32_t> oddText_{0};
    std::atomic<std::uint32_t> bitChanges_{0};
    std::atomic<std::uint32_t> messages_{0};
    // The reader's alone.
    std::uint8_t previous_ = 0;
};

}  // namespace kestrune
