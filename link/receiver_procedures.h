// The conversations with the receiver: find it, read its NMEA selection, reset it, write a new
// configuration. Each runs on the caller's thread to the end, waits only through the link's
// events with the link's timing, and reports success or failure. A cancel on the link ends any
// of them within its wake-up time, returning false with the link unverified.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

#include "link/notification_sink.h"
#include "protocol/receiver_settings.h"
#include "protocol/tsip_commands.h"
#include "protocol/tsip_reports.h"

namespace kestrune {

class ReceiverLink;

// What a question at some line settings takes as the receiver's own answer; a sentence whose
// checksum holds always counts, as only the receiver sends one at the settings it talks at.
enum class AnswerRule {
    RateAndParity,  // a port report of the line's rate and parity (a two-stop-bit sender is heard
                    // whole at one stop bit)
    TsipOnly,       // as RateAndParity, but a sentence does not count
    WholeLine,      // a port report of exactly the line: rate, parity and stop bits
    NmeaReport,     // the receiver's NMEA selection, complete
};

// Writes question at the link's current settings (line) and waits up to timeout for the
// receiver's own answer, checked by rule; anything else heard meanwhile is ignored. The answer
// is returned as the settings it shows: a port report as it stands, a sentence as line with NMEA
// output, an NMEA report as line with TSIP output. giveUp, when given, is asked now and then and
// ends the wait early.
std::optional<PortReport> awaitAnswer(ReceiverLink& link, const TsipFrame& question,
                                      const LineSettings& line, AnswerRule rule,
                                      std::chrono::milliseconds timeout,
                                      const std::function<bool()>& giveUp = {});
// Stores what the receiver answered at asked: a port report as it stands (the port takes up
// two stop bits the report shows where one was asked), a sentence as asked with NMEA output.
// False when the port could not follow to the reported line: the link is then closed.
bool storeAnswer(ReceiverLink& link, const LineSettings& asked, const PortReport& answer);
// Sends a port configuration until one draws no rejection within the rejection wait; false
// after eight rejected attempts.
bool sendPortConfigWithRetry(ReceiverLink& link, const LineSettings& line, OutputProtocol output);
// Asks for the NMEA selection, up to three times; true once the report has arrived.
bool queryNmeaSettings(ReceiverLink& link);
// Asks a receiver just found for its NMEA selection, which reaches the link's window as a
// notification: a TSIP receiver is asked once and answers later; an NMEA receiver is switched to
// TSIP for the question and back, and is then recorded as sending NMEA. whileTsip, when given,
// runs once while the receiver speaks TSIP: after the question to a TSIP receiver, and before
// the switch back for an NMEA one, so that other questions can share the switch.
void requestNmeaSelection(ReceiverLink& link, const std::function<void()>& whileTsip = {});
// Moves the local port and checks that the receiver answers there.
bool switchAndVerify(ReceiverLink& link, const LineSettings& line);
// Returns the receiver to 9600 bits/s, 8N1, TSIP with a line break.
bool resetReceiver(ReceiverLink& link, NotificationSink* window);

// Which step of applySettings failed. Only after Reset has nothing of the new configuration gone
// out; after the others the receiver may have taken it.
enum class ApplyFailure { None, Reset, Rejected, NoAnswerAtNewSettings };

// Resets the receiver, writes the new port configuration and sentence selection and verifies
// that it answers at the new settings. why, when given, says which step failed; a cancel before
// the configuration went out is a failed Reset.
bool applySettings(ReceiverLink& link, NotificationSink* window, const ReceiverConfig& config,
                   ApplyFailure* why = nullptr);

}  // namespace kestrune
