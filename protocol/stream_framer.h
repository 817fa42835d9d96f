// Cuts the receiver's byte stream into whole messages: TSIP packets (DLE id data... DLE ETX, with
// a doubled DLE inside a packet standing for one data byte) and NMEA sentences ('$' ... CR LF).
// Nothing beyond framing is checked. Resynchronisation: a byte that breaks the framing ends or
// abandons the current message and is consumed; the framer then waits in Idle for the next DLE
// or '$'. A message longer than kMaxMessage bytes is abandoned.
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

class StreamFramer {
public:
    // The packet ID or '$' plus 256 more bytes.
    static constexpr std::size_t kMaxMessage = 257;
    static constexpr std::size_t kBufferSize = 260;

    // Consumes one byte. A completed message is returned as a view of the framer's buffer, valid
    // until the next feed: a TSIP packet starts with its ID, an NMEA sentence with '$' and ends
    // before its CR. A packet with ID 0x24 looks exactly like a sentence.
    std::optional<std::span<const std::uint8_t>> feed(std::uint8_t byte);

    FramerState state() const { return state_; }

private:
    void fromIdle(std::uint8_t byte);
    void afterStartDle(std::uint8_t byte);
    void inPacket(std::uint8_t byte);
    std::optional<std::span<const std::uint8_t>> afterDataDle(std::uint8_t byte);
    void inSentence(std::uint8_t byte);
    std::optional<std::span<const std::uint8_t>> afterCr(std::uint8_t byte);

    void start(std::uint8_t byte, FramerState next);
    void append(std::uint8_t byte, FramerState next);
    std::span<const std::uint8_t> complete();

    std::array<std::uint8_t, kBufferSize> buffer_{};
    std::uint16_t length_ = 0;
    FramerState state_ = FramerState::Idle;
};

}  // namespace kestrune
