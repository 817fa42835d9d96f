// One end's transmit side of the line: what it writes waits in a bounded queue and leaves one
// character at a time at the sender's line settings, and the far end's UART makes of the
// waveform what it can at its own (see UartLine). A sender fed by software does not always keep
// its characters back to back: each may follow a short idle gap, drawn from a seeded generator
// so that a run repeats. Where the far end listens at another rate, the gaps decide where it
// finds its start bits. Not thread-safe: the receiver drives it under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "protocol/receiver_settings.h"
#include "sim/sim_clock.h"
#include "sim/uart_line.h"

namespace kestrune {

// Told what crosses the line.
class LineListener {
  public:
    virtual ~LineListener() = default;
    // A byte starts to leave at the sender's settings; first marks the first byte of a write.
    virtual void leaving(std::uint8_t /*byte*/, const LineSettings& /*sender*/, bool /*first*/) {}
    // The far end's UART has a character complete.
    virtual void received(const UartChar& got) = 0;
};

class LineTransmitter {
  public:
    // Holds at most capacity bytes waiting; before each character the line idles for up to
    // longestGapBits bits at the sender's rate.
    LineTransmitter(const SimClock& clock, std::size_t capacity, double longestGapBits,
                    std::uint32_t gapSeed, const UartModel& model = {});

    // Queues as many bytes as there is room for, the first not to leave before readyAt; returns
    // how many. The rest is lost, as in a full buffer.
    std::size_t queue(std::span<const std::uint8_t> bytes, SimTime readyAt,
                      const LineSettings& sender);
    std::size_t room() const { return capacity_ - waiting_; }
    // Bytes that have not yet started to leave.
    std::size_t backlog() const { return waiting_; }
    // Nothing waits and no character is still on its way to a listening far end.
    bool idle(const LineSettings* receiver) const;
    // What has not yet left now leaves at these settings, as a port switched under it.
    void retune(const LineSettings& sender);
    // Drops everything waiting and on the line.
    void clear();

    // The next moment something happens: a character starts, or one arrives at the far end.
    // With no receiver nobody listens, and what leaves is lost.
    std::optional<SimTime> nextDue(const LineSettings* receiver) const;
    // Moves the line on to now, telling the listener what leaves and what arrives, in order.
    void pump(SimTime now, const LineSettings* receiver, LineListener& listener);

  private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::size_t next = 0;
        SimTime readyAt;
        LineSettings sender;
    };

    std::optional<SimTime> nextStart() const;
    void drain(SimTime limit, const LineSettings* receiver, LineListener& listener);
    SimDuration drawGap(const LineSettings& sender);

    const SimClock& clock_;
    const std::size_t capacity_;
    const double longestGapBits_;
    UartLine line_;
    std::deque<Chunk> chunks_;
    std::size_t waiting_ = 0;
    SimTime lineFreeAt_{};
    std::uint32_t gapState_;
    SimDuration gap_{};  // before the next character
};

}  // namespace kestrune
