// A model of a TSIP receiver on a serial line, written from what the program expects of one.
// It hears the host's bytes only at its own baud rate and parity, parses them with its own small
// parser, obeys the port and NMEA configuration commands, answers queries after a short delay,
// answers the standard queries, reports what it cannot take with a 0x13 packet, emits NMEA
// sentences or TSIP fix reports once per interval (time from the host's clock, a fixed place),
// and returns to its factory port settings after a long line break and a second of quiet. Its
// clock can be sped up by a factor for tests.
//
// The receiver is a device: it lives for the whole run, one host at a time is attached to it
// (a SimulatedPort or a PtyReceiver), and its state outlives every host. A worker thread paces
// its output; all state is guarded by one lock, and every public method is thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

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
    // The host's line starts at hostSettings.
    [[nodiscard]] bool attach(HostLine& host, const LineSettings& hostSettings);
    // Disconnects the host; after it returns the host is never called again. A line break still
    // held ends here, as the host's port lets go of the line.
    void detach(HostLine& host);

    // The host writes bytes at its current line settings.
    void hostWrite(std::span<const std::uint8_t> bytes);
    void setHostLineSettings(const LineSettings& settings);
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
    // How often a line break has returned the port to factory settings.
    std::uint32_t factoryResets() const;

    static constexpr std::size_t kMaxLoggedWrites = 4096;

  private:
    using Lock = std::unique_lock<std::mutex>;

    void run();
    void serviceDue(SimTime now);
    std::optional<SimTime> nextDeadline() const;
    void emitPeriodic(SimTime now);
    void feedPeriodic(SimTime now);
    void startLogEntry(bool heard);
    void handle(const TsipPacket& packet, SimTime now);
    void handlePortConfig(const TsipPacket& packet, SimTime now);
    void handleNmeaConfig(const TsipPacket& packet, SimTime now);
    void answerQuery(const TsipPacket& packet, SimTime now);
    void reply(std::vector<std::uint8_t> frame, SimTime now);
    void reject(const TsipPacket& packet, SimTime now);
    void switchTo(const ReceiverSettings& next, SimTime now);
    void endBreak(SimTime now);
    bool hears() const;
    SimDuration outputInterval() const;
    Fix currentFix() const;

    const SimClock clock_;
    const ReceiverBehaviour behaviour_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    ReceiverSettings settings_;
    LineSettings hostSettings_;
    HostLine* host_ = nullptr;
    bool breakOn_ = false;
    SimTime breakStart_{};
    std::optional<SimTime> resetAt_;
    std::optional<SimTime> nextOutput_;
    std::uint32_t factoryResets_ = 0;
    TsipParser parser_;
    LineTransmitter transmitter_;
    std::deque<std::vector<std::uint8_t>> periodicPending_;
    std::deque<HostWrite> log_;
    std::thread worker_;
};

}  // namespace kestrune
