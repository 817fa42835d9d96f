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

// Where a search looks: 38400 down to 1200 bits/s, odd then no parity, one stop bit.
inline constexpr std::size_t kProbeCount = 2 * kBaudRates.size();
const std::array<LineSettings, kProbeCount>& probeOrder();

struct ProbeProgress {
    LineSettings line;
    std::size_t probe = 0;  // 1 to kProbeCount
};

struct SearchPass {
    // Wait only for the query and a full reply to cross the line, plus the quick-probe margin,
    // instead of the full probe wait.
    bool quick = false;
    // Told of each probe before it is sent.
    std::function<void(const ProbeProgress&)> onProbe;
};

// What a question at some line settings takes as the receiver's own answer; a sentence whose
// checksum holds always counts, as only the receiver sends one at the settings it talks at.
enum class AnswerRule {
    RateAndParity,  // a port report of the line's rate and parity (a two-stop-bit sender is heard
                    // whole at one stop bit)
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
// Moves the port to line, asks for the port settings and waits as awaitAnswer does; an answer is
// stored as the verified settings and output protocol.
bool probeSetting(ReceiverLink& link, const LineSettings& line, std::chrono::milliseconds wait,
                  const std::function<bool()>& giveUp = {});
// How long bytes take on the line at these settings, times the timing's factor, rounded up.
std::chrono::milliseconds lineTime(std::size_t bytes, const LineSettings& line, double factor);
// The wait of a quick probe at line: the question and a whole port report crossing the line, plus
// the quick-probe margin.
std::chrono::milliseconds quickProbeWait(const ReceiverLink& link, const LineSettings& line);

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
