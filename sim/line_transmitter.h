// The receiver's transmit side: packets and sentences wait in a queue and leave one byte at a
// time, paced at the receiver's line rate (start bit, eight data bits, parity bit if any, stop
// bits). A byte reaches the host only if the host listens at the receiver's baud rate and
// parity; otherwise the host gets nothing, or with noise on, the junk a UART sampling at the
// wrong rate makes of it. Junk is drawn from bytes that can never open a TSIP packet (DLE) or an
// NMEA sentence ('$'), so no framer can take it for an answer. Not thread-safe: the receiver
// drives it under its own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "protocol/receiver_settings.h"
#include "sim/receiver_state.h"
#include "sim/sim_clock.h"

namespace kestrune {

// The line as both ends have it when a byte leaves.
struct LineState {
    LineSettings own;
    LineSettings host;
    HostLine* listener = nullptr;  // nothing: the byte leaves and is lost
    bool noise = false;
};

class LineTransmitter {
  public:
    LineTransmitter(const SimClock& clock, std::uint32_t noiseSeed);

    // Queues bytes whose first one may not leave before readyAt.
    void queue(std::vector<std::uint8_t> bytes, SimTime readyAt);
    bool idle() const { return chunks_.empty(); }
    // When the next byte will have fully left at the receiver's settings; nothing when idle.
    std::optional<SimTime> nextDue(const LineSettings& own) const;
    // Hands on every byte that has fully left by now.
    void sendDue(SimTime now, const LineState& line);

  private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::size_t next = 0;
        SimTime readyAt;
    };

    std::uint8_t junk();

    const SimClock& clock_;
    std::deque<Chunk> chunks_;
    SimTime lineFreeAt_{};
    std::uint32_t noiseState_;
};

}  // namespace kestrune
