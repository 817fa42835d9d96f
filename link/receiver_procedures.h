// The conversations with the receiver that the window's buttons start. Each runs on the caller's
// thread to the end, waits only through the link's events with the link's timing, and reports
// success or failure.
#pragma once

#include <cstdint>

#include "link/platform_services.h"
#include "link/receiver_link.h"

namespace kestrune {

class ReceiverLink;

// Sends a port configuration (TSIP bytes) until one draws no rejection within the rejection
// wait; false after eight rejected attempts.
bool sendPortConfigWithRetry(ReceiverLink& link, std::uint8_t baud, std::uint8_t parity,
                             std::uint8_t stopBits, std::uint8_t protocol);
// Asks for the NMEA selection, up to three times; true once the report has arrived.
bool queryNmeaSettings(ReceiverLink& link);
// Probes 38400 down to 1200 bits/s, odd then no parity, one stop bit; stores the first setting
// that draws an answer.
bool searchReceiver(ReceiverLink& link);
// Finds the receiver and asks for its NMEA selection, which reaches the window as a
// notification; an NMEA-streaming receiver is switched to TSIP for the question and back.
bool readReceiverSettings(ReceiverLink& link, NotificationSink* window);
// Moves the local port and checks that the receiver answers there.
bool switchAndVerify(ReceiverLink& link, std::uint32_t baud, std::uint32_t parity,
                     std::uint32_t stopBits);
// Returns the receiver to 9600 bits/s, 8N1, TSIP with a line break.
bool resetReceiver(ReceiverLink& link, NotificationSink* window);
// Resets the receiver, writes the new port configuration and sentence selection and verifies
// that it answers at the new settings.
bool applySettings(ReceiverLink& link, NotificationSink* window, std::uint32_t baud,
                   std::uint32_t parity, std::uint32_t stopBits, bool nmea, NmeaMask mask);

}  // namespace kestrune
