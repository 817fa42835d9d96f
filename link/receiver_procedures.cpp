#include "link/receiver_procedures.h"

#include <array>
#include <thread>

#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

constexpr int kConfigAttempts = 8;
constexpr int kNmeaQueryAttempts = 3;
constexpr std::array<std::uint32_t, 6> kProbedBauds{38400, 19200, 9600, 4800, 2400, 1200};
constexpr std::array<std::uint32_t, 2> kProbedParities{kParityOdd, kParityNone};

constexpr LineSettings kFactorySettings{kFactoryBaud, kParityNone, kOneStopBit};

// A command written to a closed port is lost; the wait that follows then draws no answer.
template <typename Send>
void writeCommand(ReceiverLink& link, Send send) {
    if (SerialPort* port = link.port()) {
        (void)send(*port);
    }
}

// Writes a command and waits for any answer on the reply event; the wait is armed first so a
// fast reply is not missed.
template <typename Send>
bool askAndWaitForReply(ReceiverLink& link, Send send, std::chrono::milliseconds timeout) {
    EventWait reply(link.replyEvent());
    writeCommand(link, send);
    return reply.wait(timeout) == WaitResult::First;
}

}  // namespace

bool sendPortConfigWithRetry(ReceiverLink& link, std::uint8_t baud, std::uint8_t parity,
                             std::uint8_t stopBits, std::uint8_t protocol) {
    for (int attempt = 0; attempt < kConfigAttempts; ++attempt) {
        EventWait rejection(link.rejectEvent());
        writeCommand(link, [&](SerialPort& port) {
            return sendPortConfig(port, baud, parity, stopBits, protocol);
        });
        if (rejection.wait(link.timing().rejectWait) == WaitResult::TimedOut) {
            return true;
        }
    }
    return false;
}

bool queryNmeaSettings(ReceiverLink& link) {
    for (int attempt = 0; attempt < kNmeaQueryAttempts; ++attempt) {
        EventWait report(link.nmeaReportEvent(), link.rejectEvent());
        writeCommand(link, sendNmeaQuery);
        if (report.wait(link.timing().nmeaReportWait) == WaitResult::First) {
            return true;
        }
    }
    return false;
}

bool searchReceiver(ReceiverLink& link) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    for (const std::uint32_t baud : kProbedBauds) {
        for (const std::uint32_t parity : kProbedParities) {
            // A failure closes the link; the probe then simply draws no answer.
            (void)link.configurePort(baud, parity, kOneStopBit);
            if (askAndWaitForReply(link, sendPortConfigQuery, link.timing().probeWait)) {
                link.storeVerified({baud, parity, kOneStopBit});
                return true;
            }
        }
    }
    return false;
}

bool readReceiverSettings(ReceiverLink& link, NotificationSink* window) {
    link.setWindow(window);
    if (!searchReceiver(link)) {
        return false;
    }
    if (link.outputProtocol() == OutputProtocol::Nmea) {
        // The selection comes only as a TSIP report, so switch to TSIP to ask, then back.
        const std::uint8_t baud = baudCode(link.baud());
        const std::uint8_t parity = parityByte(link.parity());
        const std::uint8_t stopBits = stopBitsByte(link.stopBits());
        (void)sendPortConfigWithRetry(link, baud, parity, stopBits, kTsipProtocolByte);
        (void)queryNmeaSettings(link);
        (void)sendPortConfigWithRetry(link, baud, parity, stopBits, kNmeaProtocolByte);
    } else {
        writeCommand(link, sendNmeaQuery);  // the report reaches the window later
    }
    return true;
}

bool switchAndVerify(ReceiverLink& link, std::uint32_t baud, std::uint32_t parity,
                     std::uint32_t stopBits) {
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    (void)link.configurePort(baud, parity, stopBits);
    if (!askAndWaitForReply(link, sendPortConfigQuery, link.timing().verifyWait)) {
        return false;
    }
    link.storeVerified({baud, parity, stopBits});
    return true;
}

bool resetReceiver(ReceiverLink& link, NotificationSink* window) {
    link.setWindow(window);
    link.clearVerified();
    if (!link.isOpen()) {
        return false;
    }
    (void)link.configurePort(kFactorySettings.baud, kFactorySettings.parity,
                             kFactorySettings.stopBits);
    // A failed configurePort has closed the link; the sequence still runs its course and the
    // wait below then draws no answer.
    if (SerialPort* port = link.port()) {
        (void)port->setBreak(true);
    }
    std::this_thread::sleep_for(link.timing().breakLength);
    if (SerialPort* port = link.port()) {
        (void)port->setBreak(false);
    }
    std::this_thread::sleep_for(link.timing().breakQuiet);
    (void)sendPortConfigWithRetry(link, baudCode(kFactorySettings.baud),
                                  parityByte(kFactorySettings.parity),
                                  stopBitsByte(kFactorySettings.stopBits), kTsipProtocolByte);
    if (!askAndWaitForReply(link, sendNmeaQuery, link.timing().verifyWait)) {
        return false;
    }
    link.storeVerified(kFactorySettings);
    return true;
}

bool applySettings(ReceiverLink& link, NotificationSink* window, std::uint32_t baud,
                   std::uint32_t parity, std::uint32_t stopBits, bool nmea, NmeaMask mask) {
    if (!resetReceiver(link, window)) {
        return false;
    }
    (void)sendPortConfigWithRetry(link, baudCode(baud), parityByte(parity), stopBitsByte(stopBits),
                                  protocolByte(nmea ? kNmeaSelected : kTsipSelected));
    std::this_thread::sleep_for(link.timing().settle);
    if (!switchAndVerify(link, baud, parity, stopBits)) {
        return false;
    }
    writeCommand(link, [mask](SerialPort& port) { return sendNmeaConfig(port, mask); });
    return true;
}

}  // namespace kestrune
