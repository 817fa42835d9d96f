// A serial port wired to a virtual receiver: what the host writes goes to the receiver at the
// port's line settings, line settings and breaks are passed on as they change, and what the
// receiver sends waits in an input buffer for readByte, after the same handling of parity and
// framing errors and breaks as the POSIX port sets up (kPortInputHandling). Only one SimulatedPort
// can be open on a receiver at a time, like a real port that is not shared. The receiver must
// outlive the port.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "link/serial_port.h"
#include "sim/receiver_state.h"

namespace kestrune {

class VirtualReceiver;

class SimulatedPort final : public SerialPort, private HostLine {
  public:
    // Nothing if another port is open on the receiver. The port starts at 9600 bits/s, 8N1.
    static std::unique_ptr<SimulatedPort> open(VirtualReceiver& receiver);
    ~SimulatedPort() override;
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult readByte(std::uint8_t& byte) override;
    std::uint64_t inputMark() override;
    bool setReadCeiling(std::chrono::milliseconds ceiling) override;
    bool getLineSettings(LineSettings& settings) override;
    // Refuses what a real port refuses: a rate the receiver does not offer.
    bool setLineSettings(const LineSettings& settings) override;
    bool setBreak(bool on) override;
    void stopReading() override;

    // Bytes the input buffer holds at most; more are lost, as in a UART overrun.
    static constexpr std::size_t kInputCapacity = 4096;

  private:
    explicit SimulatedPort(VirtualReceiver& receiver);
    void deliver(std::uint8_t byte) override;

    VirtualReceiver& receiver_;
    bool attached_ = false;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::array<std::uint8_t, kInputCapacity> input_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::uint64_t handedOut_ = 0;
    std::chrono::milliseconds ceiling_{1000};
    bool stopped_ = false;
    LineSettings settings_;
};

}  // namespace kestrune
