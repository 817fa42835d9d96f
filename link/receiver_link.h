// The program's connection to the receiver: the serial port, a reader thread that frames what the
// receiver sends and turns it into pulses and notifications, the three events the procedures wait
// on, and the last line settings the receiver was seen to answer at.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <semaphore>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "link/platform_services.h"
#include "protocol/stream_framer.h"

namespace kestrune {

// Every delay of the link, the procedures and the commands.
struct Timing {
    std::chrono::milliseconds readCeiling{1000};
    std::chrono::milliseconds closeWait{2000};
    std::chrono::milliseconds rejectWait{1000};
    std::chrono::milliseconds nmeaReportWait{3000};
    std::chrono::milliseconds probeWait{3000};
    std::chrono::milliseconds verifyWait{5000};
    std::chrono::milliseconds breakLength{600};
    std::chrono::milliseconds breakQuiet{1000};
    std::chrono::milliseconds settle{1000};

    // All delays multiplied by factor (at least 1 ms each), for tests on a sped-up receiver.
    Timing scaled(double factor) const;
};

using PortOpener = std::function<std::unique_ptr<SerialPort>(std::string_view)>;

class ReceiverLink {
  public:
    explicit ReceiverLink(Timing timing = {}, PortOpener opener = openSerialPort);
    ~ReceiverLink();
    ReceiverLink(const ReceiverLink&) = delete;
    ReceiverLink& operator=(const ReceiverLink&) = delete;

    // Opens the named port unless it is the one already named (letter case aside). A name longer
    // than kMaxPortName names no device, so the link then stays closed.
    void setPortName(std::string_view name);
    const std::string& portName() const { return portName_; }

    [[nodiscard]] bool open();
    void close();
    bool isOpen() const { return port_ != nullptr; }

    // Moves the local port to new line settings; a failure closes the whole link.
    [[nodiscard]] bool configurePort(std::uint32_t baud, std::uint32_t parity,
                                     std::uint32_t stopBits);

    void setWindow(NotificationSink* window) { window_.store(window); }
    NotificationSink* window() const { return window_.load(); }

    bool verified() const { return verified_.load(); }
    std::uint32_t baud() const { return baud_.load(); }
    std::uint32_t parity() const { return parity_.load(); }
    std::uint32_t stopBits() const { return stopBits_.load(); }
    OutputProtocol outputProtocol() const { return outputProtocol_.load(); }

    // For the procedures.
    const Timing& timing() const { return timing_; }
    SerialPort* port() { return port_.get(); }
    PulseEvent& replyEvent() { return replyEvent_; }
    PulseEvent& nmeaReportEvent() { return nmeaReportEvent_; }
    PulseEvent& rejectEvent() { return rejectEvent_; }
    void clearVerified() { verified_.store(false); }
    // Records settings the receiver answered at and marks them verified.
    void storeVerified(const LineSettings& settings);

    // Acts on one framed message as the reader does; public so the fuzzer and tests can drive
    // the dispatch without a port.
    void dispatch(std::span<const std::uint8_t> message);

  private:
    void readerLoop();
    void postNmeaMask(std::span<const std::uint8_t> message);
    void postSignalLevels(std::span<const std::uint8_t> message);

    const Timing timing_;
    const PortOpener opener_;
    std::atomic<NotificationSink*> window_{nullptr};
    std::string portName_;
    std::unique_ptr<SerialPort> port_;
    std::thread reader_;
    std::binary_semaphore readerEnded_{0};
    PulseEvent replyEvent_;
    PulseEvent nmeaReportEvent_;
    PulseEvent rejectEvent_;
    std::atomic<bool> verified_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint32_t> baud_{0};
    std::atomic<std::uint32_t> parity_{0};
    std::atomic<std::uint32_t> stopBits_{0};
    std::atomic<OutputProtocol> outputProtocol_{OutputProtocol::Tsip};
    // Used by the reader alone, for the whole life of the link; never reset.
    StreamFramer framer_;
};

// The signal level a 0x47 entry's IEEE-754 single becomes in a notification: 0 for a level that
// is zero, negative, not a number or infinite.
std::int32_t signalLevelValue(float level);

}  // namespace kestrune
