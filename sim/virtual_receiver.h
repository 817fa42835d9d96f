// A model of a TSIP receiver on a serial line, written from what the program expects of one.
// The line between it and the host is modelled both ways as a UART samples it (see UartLine):
// the host's bytes leave at the host's line rate, and the receiver's UART makes of them what it
// can at the receiver's settings; it drops characters with parity or framing errors and parses
// the rest with its own small parser, so a garbled query goes unanswered unless it happens to
// make a packet. What it sends reaches the host as the host's UART samples it, each character
// when it is complete on the line, through the host's handling of errors. It obeys the port and
// NMEA configuration commands, answers queries after a short delay, answers the standard queries,
// reports what it cannot take with a 0x13 packet, emits NMEA sentences or TSIP fix reports once per
// interval (time from the host's clock, a fixed place), and returns to its factory port settings
// after a long line break and a second of quiet. It keeps a saved configuration beside the one
// in force, which a power cycle brings back and a line break leaves alone. Its clock can be sped up
// by a factor for tests.
//
// The receiver is a device: it lives for the whole run, one host at a time is attached to it
// (a SimulatedPort or a PtyReceiver), and its state outlives every host. A worker thread paces
// its output; all state is guarded by one lock, and every public method is thread-safe.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "sim/line_transmitter.h"
#include "sim/receiver_state.h"
#include "sim/sim_clock.h"
#include "sim/tsip_parser.h"

namespace kestrune {

class VirtualReceiver {
  public:
    explicit VirtualReceiver(const ReceiverSettings& initial = {},
                             const ReceiverBehaviour& behaviour = {}, double clockFactor = 1.0);
    ~VirtualReceiver();
    VirtualReceiver(const VirtualReceiver&) = delete;
    VirtualReceiver& operator=(const VirtualReceiver&) = delete;

    // Connects a host; false while another one is attached, as a busy port refuses a second open.
    // The host's line starts at hostSettings, and it treats errors as handling says.
    [[nodiscard]] bool attach(HostLine& host, const LineSettings& hostSettings,
                              const InputErrorHandling& handling = kPortInputHandling);
    // Disconnects the host; after it returns the host is never called again. A line break still
    // held ends here, as the host's port lets go of the line, and output not yet sent is dropped.
    void detach(HostLine& host);

    // The host writes bytes at its current line settings; they leave at that rate, each at the
    // settings it was written at. What does not fit in the receiver's input buffer is lost.
    void hostWrite(std::span<const std::uint8_t> bytes);
    void setHostLineSettings(const LineSettings& settings);
    void setHostInputHandling(const InputErrorHandling& handling);
    void setHostBreak(bool on);

    ReceiverSettings settings() const;
    // Puts the receiver in a state directly, for arranging a test.
    void setSettings(const ReceiverSettings& settings);
    const ReceiverBehaviour& behaviour() const { return behaviour_; }
    const SimClock& clock() const { return clock_; }
    bool hostAttached() const;

    // Everything the host wrote since construction or the last clearHostWrites, oldest first
    // (the oldest are dropped beyond kMaxLoggedWrites).
    std::vector<HostWrite> hostWrites() const;
    void clearHostWrites();
    // What a power cycle brings back: the configuration last saved, nothing while none was.
    std::optional<ReceiverSettings> savedSettings() const;
    // Power off and on: the saved configuration comes back, or the factory settings when none
    // was saved; anything half heard or not yet sent is lost.
    void powerCycle();
    // How often a line break has returned the port to factory settings.
    std::uint32_t factoryResets() const;

    // Waits until the receiver has taken in everything the host wrote, as a drain waits for a
    // port's output; false if that takes longer than limit.
    [[nodiscard]] bool waitForHostWrites(std::chrono::milliseconds limit) const;
    // Bytes the host wrote that wait to leave (one while the last is still on the line), and
    // bytes of the receiver's own output waiting to leave.
    std::size_t inputBacklog() const;
    std::size_t outputBacklog() const;

    static constexpr std::size_t kMaxLoggedWrites = 4096;
    // The receiver's buffers: what the host writes beyond the input buffer is lost; output that
    // does not fit whole is not queued, so the newest is dropped and what is under way stays
    // whole, as a device with a fixed transmit buffer does.
    static constexpr std::size_t kInputCapacity = 4096;
    static constexpr std::size_t kOutputCapacity = 2048;
    // Between its characters the receiver's line idles for up to this many bits.
    static constexpr double kOutputGapBits = 2.0;

  private:
    using Lock = std::unique_lock<std::mutex>;

    // What the host gets of the receiver's output.
    struct HostEnd final : LineListener {
        explicit HostEnd(VirtualReceiver& r) : receiver(r) {}
        void received(const UartChar& got) override;
        VirtualReceiver& receiver;
    };
    // What the receiver gets of the host's writes.
    struct DeviceEnd final : LineListener {
        explicit DeviceEnd(VirtualReceiver& r) : receiver(r) {}
        void leaving(std::uint8_t byte, const LineSettings& sender, bool first) override;
        void received(const UartChar& got) override;
        VirtualReceiver& receiver;
    };

    void run();
    void serviceDue(SimTime now);
    void finishHostWrites();
    std::optional<SimTime> nextDeadline() const;
    void emitPeriodic(SimTime now);
    void flushBlock();
    void feedPeriodic(SimTime now);
    void startLogEntry(const LineSettings& sender, bool heard);
    bool queueOutput(std::span<const std::uint8_t> bytes, SimTime readyAt);
    std::size_t periodicBytes() const;
    std::size_t outputRoom() const;
    const LineSettings* listener() const;
    const LineSettings* noiseListener() const;
    void emitNoise(SimTime now);
    bool present() const;
    void handle(const TsipPacket& packet, SimTime now);
    void handlePortConfig(const TsipPacket& packet, SimTime now);
    void handleNmeaConfig(const TsipPacket& packet, SimTime now);
    void answerQuery(const TsipPacket& packet, SimTime now);
    void handleSave(const TsipPacket& packet, SimTime now);
    void restartOutput(SimTime up);
    void reply(std::vector<std::uint8_t> frame, SimTime now);
    void reject(const TsipPacket& packet, SimTime now);
    void switchTo(const ReceiverSettings& next, SimTime now);
    void endBreak(SimTime now);
    bool hears(const LineSettings& sender) const;
    SimDuration outputInterval() const;
    Fix currentFix() const;

    const SimClock clock_;
    const ReceiverBehaviour behaviour_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable std::condition_variable hostWritesTaken_;
    bool stopping_ = false;
    ReceiverSettings settings_;
    std::optional<ReceiverSettings> saved_;
    LineSettings hostSettings_;
    InputErrorHandling hostHandling_;
    HostLine* host_ = nullptr;
    bool breakOn_ = false;
    SimTime breakStart_{};
    std::optional<SimTime> resetAt_;
    std::optional<SimTime> nextOutput_;
    std::uint32_t factoryResets_ = 0;
    TsipParser parser_;
    LineTransmitter transmitter_;
    LineTransmitter hostLine_;
    // The noise the host hears at its own settings, and when the next burst is due.
    LineTransmitter noise_;
    std::optional<SimTime> nextNoise_;
    std::uint32_t noiseBursts_ = 0;
    HostEnd hostEnd_{*this};
    DeviceEnd deviceEnd_{*this};
    std::deque<std::vector<std::uint8_t>> periodicPending_;
    // What a USB adapter holds for the host, and when its latency timer hands it over. A block
    // is one USB packet's payload: 64 bytes less the adapter's two status bytes.
    static constexpr std::size_t kAdapterBlockBytes = 62;
    std::array<std::uint8_t, kAdapterBlockBytes> block_{};
    std::size_t blockCount_ = 0;
    std::optional<SimTime> blockDue_;
    std::deque<HostWrite> log_;
    std::thread worker_;
};

}  // namespace kestrune
