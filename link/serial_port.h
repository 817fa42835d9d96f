// The serial port as the link uses it. The POSIX port, the virtual receiver's port and the
// tests' scripted port all stand behind this.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "protocol/receiver_settings.h"

namespace kestrune {

enum class ReadResult { Byte, Nothing, Failed };

// What the port's terminal does with a character received with a parity or framing error, or a
// line break, as its input flags tell the kernel: check (INPCK) turns error checking on; ignore
// (IGNPAR) then drops such a character, mark (PARMRK) passes it as 0xFF 0x00 and the byte, and
// neither passes 0x00. Without checking the byte passes as received. A break is dropped with
// ignoreBreak (IGNBRK), else read as 0xFF 0x00 0x00 with mark, or as 0x00.
struct InputErrorHandling {
    bool check = false;
    bool ignore = false;
    bool mark = false;
    bool ignoreBreak = false;
    bool operator==(const InputErrorHandling&) const = default;
};

// The handling the serial port sets up: characters with errors and breaks are dropped, so that a
// garbled byte never reaches the framer. The port's terminal flags are kept in step with this.
inline constexpr InputErrorHandling kPortInputHandling{
    .check = true, .ignore = true, .mark = false, .ignoreBreak = true};

// One open serial device. One thread may read while another writes or changes line settings.
// Bytes pass unaltered both ways, and changing line settings discards nothing already received.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Writes all bytes; callers do not act on the outcome.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Returns a byte as soon as one is there, Nothing after the read ceiling, or Failed once the
    // device has gone. A failed read also takes the ceiling, so a reader looping on a dead device
    // never spins.
    virtual ReadResult readByte(std::uint8_t& byte) = 0;
    // The count of bytes received since the port opened: those readByte has handed out plus those
    // waiting. A byte that readByte hands out once that many came before it arrived after this
    // call; the bytes before it may be older.
    virtual std::uint64_t inputMark() = 0;
    virtual bool setReadCeiling(std::chrono::milliseconds ceiling) = 0;
    // How long a port that reads in blocks lets a stream gather between reads; one that hands
    // bytes on as they come has nothing to gather.
    virtual void setGatherPause(std::chrono::milliseconds /*pause*/) {}
    virtual bool getLineSettings(LineSettings& settings) = 0;
    virtual bool setLineSettings(const LineSettings& settings) = 0;
    virtual bool setBreak(bool on) = 0;
    // From any thread: a read waiting now returns Nothing at once, and so does every later one,
    // so a reader being stopped need not wait out the ceiling.
    virtual void stopReading() = 0;
};

}  // namespace kestrune
