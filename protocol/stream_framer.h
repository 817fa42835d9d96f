// Cuts the receiver's byte stream into whole messages: TSIP packets (DLE id data... DLE ETX, with
// a doubled DLE inside a packet standing for one data byte) and NMEA sentences ('$' ... CR LF).
// Nothing beyond framing is checked. Resynchronisation: a byte that breaks the framing ends or
// abandons the current message and is consumed, but for a DLE that breaks off a sentence, which
// may open a packet; the framer then waits in Idle for the next DLE or '$'. A message longer
// than kMaxMessage bytes is abandoned.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrune {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kSentenceStart = '$';
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kLf = 0x0A;

enum class FramerState : std::uint8_t {
    Idle = 0,
    AfterStartDle = 1,
    InPacket = 2,
    AfterDataDle = 3,
    InSentence = 4,
    AfterCr = 5,
};

namespace framer_detail {

inline constexpr std::uint8_t kFirstTextByte = 0x20;
inline constexpr std::size_t kStates = 6;
using BodyTable = std::array<std::array<bool, 256>, kStates>;

// For each state, the bytes that are simply stored: anything but DLE inside a packet, text bytes
// inside a sentence.
constexpr BodyTable makeBodyTable() {
    BodyTable table{};
    for (std::size_t b = 0; b < table[0].size(); ++b) {
        table[static_cast<std::size_t>(FramerState::InPacket)][b] = b != kDle;
        table[static_cast<std::size_t>(FramerState::InSentence)][b] = b >= kFirstTextByte;
    }
    return table;
}
inline constexpr BodyTable kBodyByte = makeBodyTable();

}  // namespace framer_detail

class StreamFramer {
  public:
    // The packet ID or '$' plus 256 more bytes.
    static constexpr std::size_t kMaxMessage = 257;
    static constexpr std::size_t kBufferSize = 260;

    // Consumes one byte. A completed message is returned as a view of the framer's buffer, valid
    // until the next feed: a TSIP packet starts with its ID, an NMEA sentence with '$' and ends
    // before its CR. A packet with ID 0x24 looks exactly like a sentence.
    std::optional<std::span<const std::uint8_t>> feed(std::uint8_t byte) {
        // Most bytes are the body of a message; they take this short path, inlined at the caller.
        if (framer_detail::kBodyByte[static_cast<std::size_t>(state_)][byte] &&
            length_ < kMaxMessage) {
            buffer_[length_++] = byte;
            return std::nullopt;
        }
        return feedByState(byte);
    }

    FramerState state() const { return state_; }

  private:
    std::optional<std::span<const std::uint8_t>> feedByState(std::uint8_t byte);
    void fromIdle(std::uint8_t byte);
    void afterStartDle(std::uint8_t byte);
    void inPacket(std::uint8_t byte);
    std::optional<std::span<const std::uint8_t>> afterDataDle(std::uint8_t byte);
    void inSentence(std::uint8_t byte);
    void breakOffSentence(std::uint8_t byte);
    std::optional<std::span<const std::uint8_t>> afterCr(std::uint8_t byte);

    void start(std::uint8_t byte, FramerState next);
    void append(std::uint8_t byte, FramerState next);
    std::span<const std::uint8_t> complete();

    std::array<std::uint8_t, kBufferSize> buffer_{};
    std::size_t length_ = 0;
    FramerState state_ = FramerState::Idle;
};

}  // namespace kestrune
