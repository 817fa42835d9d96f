// The services the link, the procedures and the commands rely on: a serial port, pulse-only
// events and posting to the window. Everything else in the program reaches the operating system
// through these, so tests can put a virtual receiver or a pseudo-terminal behind them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace kestrune {

// A delay multiplied by a speed-up factor, rounded to whole milliseconds and at least one. The
// link's timing and the virtual receiver's clock both shrink their delays with it, so a host and
// a receiver sped up by the same factor agree on every boundary.
inline std::chrono::milliseconds scaleDelay(std::chrono::milliseconds delay, double factor) {
    constexpr std::chrono::milliseconds kShortest{1};
    const auto scaled = std::chrono::milliseconds(
        static_cast<std::chrono::milliseconds::rep>(std::llround(delay.count() * factor)));
    return std::max(scaled, kShortest);
}

// Local port encodings of parity and stop bits (not the receiver's TSIP bytes).
inline constexpr std::uint32_t kParityNone = 0;
inline constexpr std::uint32_t kParityOdd = 1;
inline constexpr std::uint32_t kParityEven = 2;
inline constexpr std::uint32_t kOneStopBit = 0;
inline constexpr std::uint32_t kTwoStopBits = 2;

inline constexpr std::uint32_t kMinBaud = 1200;
inline constexpr std::uint32_t kMaxBaud = 38400;
inline constexpr std::uint32_t kFactoryBaud = 9600;

// What the receiver was last seen sending.
enum class OutputProtocol : std::uint32_t { Tsip = 0, Nmea = 1 };

// Seven bits selecting NMEA sentences.
using NmeaMask = std::uint32_t;
inline constexpr NmeaMask kMaskGga = 1u << 0;
inline constexpr NmeaMask kMaskGll = 1u << 1;
inline constexpr NmeaMask kMaskVtg = 1u << 2;
inline constexpr NmeaMask kMaskGsv = 1u << 3;
inline constexpr NmeaMask kMaskGsa = 1u << 4;
inline constexpr NmeaMask kMaskZda = 1u << 5;
inline constexpr NmeaMask kMaskRmc = 1u << 6;
inline constexpr NmeaMask kMaskAll = 0x7F;

// The line settings the program changes; everything else about the line is fixed by the port
// (8 data bits, no flow control, raw bytes, modem lines held on).
struct LineSettings {
    std::uint32_t baud = kFactoryBaud;
    std::uint32_t parity = kParityNone;
    std::uint32_t stopBits = kOneStopBit;
    bool operator==(const LineSettings&) const = default;
};

enum class ReadResult { Byte, Nothing, Failed };

// One open serial device. One thread may read while another writes or changes line settings.
// Bytes pass unaltered both ways, and changing line settings discards nothing already received.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Writes all bytes; callers do not act on the outcome.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Returns a byte as soon as one is there, Nothing after the read ceiling, or Failed. A failed
    // read also takes the ceiling, so a reader looping on a dead device never spins.
    virtual ReadResult readByte(std::uint8_t& byte) = 0;
    virtual bool setReadCeiling(std::chrono::milliseconds ceiling) = 0;
    virtual bool getLineSettings(LineSettings& settings) = 0;
    virtual bool setLineSettings(const LineSettings& settings) = 0;
    virtual bool setBreak(bool on) = 0;
};

// Longest stored port name, such as "COM3:".
inline constexpr std::size_t kMaxPortName = 5;

// Opens a device by its stored port name (see portDevicePath); nothing for an unknown name, a
// missing device, a device in use or a file that is not a terminal.
std::unique_ptr<SerialPort> openSerialPort(std::string_view portName);

// The device path a stored port name stands for: "COM1:" is /dev/ttyS0, "PTS3" is /dev/pts/3,
// "USB0" is /dev/USB0 if present, else /dev/ttyUSB0. Empty for anything else, so no name can
// reach a path outside /dev.
std::string portDevicePath(std::string_view portName);

// Receives notifications from the reader thread; post must be safe from any thread.
class NotificationSink {
  public:
    virtual ~NotificationSink() = default;
    virtual void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) = 0;
};

inline constexpr std::uint32_t kNotifyNmeaMask = 0x8000;
inline constexpr std::uint32_t kNotifySignalLevel = 0x8001;

class EventWait;

// Which event of an armed wait was pulsed first; TimedOut while none has been.
enum class WaitResult { First, Second, TimedOut };

// A pulse-only, auto-reset event: a pulse releases the waits armed at that moment and is
// otherwise forgotten, so a wait never completes on a stale reply.
class PulseEvent {
  public:
    PulseEvent() = default;
    PulseEvent(const PulseEvent&) = delete;
    PulseEvent& operator=(const PulseEvent&) = delete;
    ~PulseEvent();

    void pulse();

  private:
    friend class EventWait;
    struct Slot {
        EventWait* wait = nullptr;
        WaitResult which = WaitResult::TimedOut;
        Slot* previous = nullptr;
        Slot* next = nullptr;
    };
    void attach(Slot& slot);
    void detach(Slot& slot);

    std::mutex mutex_;
    Slot* armed_ = nullptr;
};

// A wait armed on one event, or on the first of two, from construction to destruction. Arm it
// before writing the command it waits for, so a fast reply is not missed.
class EventWait {
  public:
    explicit EventWait(PulseEvent& first);
    EventWait(PulseEvent& first, PulseEvent& second);
    EventWait(const EventWait&) = delete;
    EventWait& operator=(const EventWait&) = delete;
    ~EventWait();

    // First or Second for the event pulsed since arming (the earliest one), else TimedOut.
    [[nodiscard]] WaitResult wait(std::chrono::milliseconds timeout);

  private:
    friend class PulseEvent;
    void release(WaitResult which);

    PulseEvent* events_[2];
    PulseEvent::Slot slots_[2];
    std::mutex mutex_;
    std::condition_variable released_;
    WaitResult pulsed_ = WaitResult::TimedOut;
};

}  // namespace kestrune
