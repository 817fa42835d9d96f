// One direction of a serial line, as the receiving UART samples it.
//
// The sender puts characters on the line at its own line settings: the line idles high, and a
// character is a low start bit, eight data bits least significant first, the parity bit if any,
// and high stop bits. The receiving UART knows nothing of the sender's settings. Idle, it waits
// for a falling edge; half a bit later (at its own rate) it checks that the line is still low,
// else the edge was a glitch and it waits for the next one. It then samples each data bit, the
// parity bit if it expects one and the first stop bit, each in the middle of where that bit would
// be at its own rate. A wrong parity bit is a parity error, a low stop bit a framing error, and a
// character that is all low, stop bit included, a break. It then waits for the next falling edge,
// looking from the middle of the stop bit. The character is ready when a whole character at the
// receiver's settings has passed since its start.
//
// Real UARTs differ in a few details, which a UartModel chooses: after a framing error some take
// the still-low stop-bit sample as the start bit of the next character; the sender's clock may be
// a little off the listener's.
//
// At equal rate and parity every sample falls in the middle of the bit sent, so the receiver gets
// exactly the bytes sent whatever the stop bits. At other settings it gets what a real UART gets:
// garbled bytes, errors, and a count of characters that follows its own rate.
//
// The line keeps only the characters the receiver may still sample, in a fixed ring: nothing is
// allocated per character.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/serial_port.h"
#include "protocol/receiver_settings.h"
#include "sim/sim_clock.h"
#include "sim/uart_model.h"

namespace kestrune {

// A character as the receiving UART has it, with the moment it is complete.
struct UartChar {
    std::uint8_t byte = 0;
    bool parityError = false;
    bool framingError = false;
    bool lineBreak = false;
    SimTime at{};
    bool operator==(const UartChar&) const = default;
};

class UartLine {
  public:
    explicit UartLine(const SimClock& clock, const UartModel& model = {})
        : clock_(clock), model_(model) {}

    // Puts a character on the line from start on, at the sender's settings. Characters come in
    // order and never overlap.
    void send(std::uint8_t byte, SimTime start, const LineSettings& sender);
    // The next character the receiver has complete by limit, at its settings; nothing while the
    // line up to limit holds no further character. Every character sent before limit must have
    // been given to send first.
    std::optional<UartChar> receive(SimTime limit, const LineSettings& receiver);
    // When the character the receiver is reading now will be complete, if one has started.
    std::optional<SimTime> nextArrival(const LineSettings& receiver) const;
    // How long a character at the sender's settings holds the line, at the sender's own clock.
    SimDuration characterTime(const LineSettings& sender) const {
        return bitsTime(bitsPerByte(sender), senderRate(sender));
    }
    // Forgets everything on the line; the receiver waits for a new character.
    void clear();

    // Characters kept at most: a character at the slowest rate with every extra bit lasts as long
    // as this many at the fastest.
    static constexpr std::size_t kCapacity = 64;

  private:
    struct Sent {
        SimTime start{};
        std::uint16_t frame = 0;  // the levels, first bit in bit 0
        std::uint8_t bits = 0;
        std::uint32_t baud = 0;
    };

    SimDuration bitsTime(double bits, std::uint32_t baud) const {
        return clock_.bitsTime(bits, baud);
    }
    std::uint32_t senderRate(const LineSettings& sender) const {
        return static_cast<std::uint32_t>(
            std::lround(static_cast<double>(sender.baud) * (1.0 + model_.senderClockOffset)));
    }
    bool level(SimTime at) const;
    std::optional<SimTime> nextFallingEdge(SimTime after) const;
    std::optional<SimTime> nextStartEdge() const;
    std::optional<SimTime> edgeWithin(const Sent& sent, SimTime after) const;
    SimTime endOf(const Sent& sent) const;
    const Sent* nextWhole() const;
    const Sent& at(std::size_t index) const { return ring_[(head_ + index) % kCapacity]; }
    void dropPassed();

    const SimClock& clock_;
    const UartModel model_;
    std::array<Sent, kCapacity> ring_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    // A falling edge after this moment starts the next character.
    SimTime listenAfter_ = SimTime::min();
    // Where the next character's start bit began, when a low stop-bit sample was taken as one.
    std::optional<SimTime> restartEdge_;
};

// What the host's terminal does with a character that has a parity or framing error, or is a
// break, from its input flags (see InputErrorHandling). Writes the bytes the host reads into out
// and returns how many: none, the byte, 0x00, or a mark 0xFF 0x00 and the byte. With marking on,
// a clean 0xFF is doubled so that it cannot be taken for a mark.
std::size_t hostInput(const UartChar& received, const InputErrorHandling& handling,
                      std::array<std::uint8_t, 3>& out);

}  // namespace kestrune
