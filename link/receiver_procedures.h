// The conversations with the receiver: find it, read its NMEA selection, reset it, write a new
// configuration. Each runs on the caller's thread to the end, waits only through the link's
// events with the link's timing, and reports success or failure. A cancel on the link ends any
// of them within its wake-up time, returning false with the link unverified.
#pragma once

#include <array>
#include <cstddef>
#include <functional>

#include "link/notification_sink.h"
#include "protocol/receiver_settings.h"

namespace kestrune {

class ReceiverLink;

// Where a search looks: 38400 down to 1200 bits/s, odd then no parity, one stop bit.
inline constexpr std::size_t kProbeCount = 2 * kBaudRates.size();
const std::array<LineSettings, kProbeCount>& probeOrder();

enum class ProbeRule {
    AnyReply,      // any TSIP packet but 0x13 and 0x47, or any sentence, answers the probe
    CheckedReply,  // only a port report of the probed settings, or a sentence whose checksum holds
};

struct ProbeProgress {
    LineSettings line;
    std::size_t probe = 0;  // 1 to kProbeCount
};

struct SearchPass {
    // Wait only for the query and a full reply to cross the line, plus the quick-probe margin,
    // instead of the full probe wait.
    bool quick = false;
    ProbeRule rule = ProbeRule::AnyReply;
    // Told of each probe before it is sent.
    std::function<void(const ProbeProgress&)> onProbe;
};

// Sends a port configuration until one draws no rejection within the rejection wait; false
// after eight rejected attempts.
bool sendPortConfigWithRetry(ReceiverLink& link, const LineSettings& line, OutputProtocol output);
// Asks for the NMEA selection, up to three times; true once the report has arrived.
bool queryNmeaSettings(ReceiverLink& link);
// Probes every setting of probeOrder and stores the first that draws an answer.
bool searchReceiver(ReceiverLink& link, const SearchPass& pass = {});
// Asks a receiver just found for its NMEA selection, which reaches the link's window as a
// notification: a TSIP receiver is asked once and answers later; an NMEA receiver is switched to
// TSIP for the question and back, and is then recorded as sending NMEA. whileTsip, when given,
// runs once while the receiver speaks TSIP: after the question to a TSIP receiver, and before
// the switch back for an NMEA one, so that other questions can share the switch.
void requestNmeaSelection(ReceiverLink& link, const std::function<void()>& whileTsip = {});
// Finds the receiver and asks for its NMEA selection.
bool readReceiverSettings(ReceiverLink& link, NotificationSink* window);
// Moves the local port and checks that the receiver answers there.
bool switchAndVerify(ReceiverLink& link, const LineSettings& line);
// Returns the receiver to 9600 bits/s, 8N1, TSIP with a line break.
bool resetReceiver(ReceiverLink& link, NotificationSink* window);

enum class ApplyFailure { None, Reset, Rejected, NoAnswerAtNewSettings };

// Resets the receiver, writes the new port configuration and sentence selection and verifies
// that it answers at the new settings. why, when given, says which step failed.
bool applySettings(ReceiverLink& link, NotificationSink* window, const ReceiverConfig& config,
                   ApplyFailure* why = nullptr);

}  // namespace kestrune
