// The one search both front ends run: a quick pass, then, unless it found the receiver, the full
// pass with its long waits. The quick pass asks at each setting briefly and follows what it hears
// at the wrong ones to where the receiver talks, so a receiver that only streams sentences is
// found within a couple of its output intervals. Either pass takes a setting only on a port
// report of exactly that rate and parity or an NMEA sentence whose checksum holds: bytes that
// arrive at a wrong setting are what a UART makes of another speed, and can form a packet by
// chance. A talker of sentences is confirmed by switching it to TSIP and asking for its port
// settings, since any NMEA device sends such sentences; the quick pass asks as soon as its text
// reads right, before a whole sentence has come.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"

namespace kestrune {

// Where a search looks: 38400 down to 1200 bits/s, odd then no parity, one stop bit.
inline constexpr std::size_t kProbeCount = 2 * kBaudRates.size();
const std::array<LineSettings, kProbeCount>& probeOrder();

struct ProbeProgress {
    LineSettings line;
    std::size_t probe = 0;  // 1 to kProbeCount
};

enum class SearchPass { Quick, Full };
std::string_view passName(SearchPass pass);

// Told of each probe, with the pass it belongs to.
using ProbeReport = std::function<void(SearchPass pass, const ProbeProgress&)>;

struct SearchOptions {
    // Run the full pass even when the quick pass heard no byte at all on the port. A search of
    // one port does; a search of every port may leave a port with nothing attached for later.
    bool fullPassWhenSilent = true;
    // Ask a port that carries checked sentences, in TSIP, whether a receiver sends them, before
    // calling it one. The check switches the output and back: a caller that already knows the
    // device is a receiver, and must send nothing it does not have to, leaves it out.
    bool confirmNmea = true;
    ProbeReport onProbe;
};

enum class SearchOutcome {
    Found,     // the link holds the verified settings
    NotFound,  // every pass ran (or a cancel stopped it) without an answer
    Silent,    // the quick pass heard no byte at all, and the full pass was left out
    NotTsip,   // checked sentences at the link's settings, from a device that does not answer TSIP
};

// Runs the search. NotTsip leaves the settings of the sentences as the link's verified ones.
SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options = {});

// Moves the port to line, asks for the port settings and waits up to wait for a port report of
// that rate and parity or a checked sentence; an answer is stored as the verified settings and
// output protocol. giveUp, when given, is asked now and then and ends the wait early. The
// answer's kind, TSIP for a port report and NMEA for a sentence, or nothing when none came: the
// link's output protocol follows whatever is heard next, which at a noisy setting may be a packet.
std::optional<OutputProtocol> probeSetting(ReceiverLink& link, const LineSettings& line,
                                           std::chrono::milliseconds wait,
                                           const std::function<bool()>& giveUp = {});
// The wait of a quick probe at line: the question and a whole port report crossing the line, plus
// the quick-probe margin.
std::chrono::milliseconds quickProbeWait(const ReceiverLink& link, const LineSettings& line);
// The full pass alone: probes every setting of probeOrder with the full probe wait and stores the
// first that draws an answer that accepted, when given, takes (it is told the answer's kind);
// one it refuses is passed over.
bool searchReceiver(ReceiverLink& link,
                    const std::function<void(const ProbeProgress&)>& onProbe = {},
                    const std::function<bool(OutputProtocol)>& accepted = {});

// Finds the receiver and asks for its NMEA selection, which reaches window as a notification;
// whileTsip runs once while the receiver speaks TSIP (see requestNmeaSelection).
bool readReceiverSettings(ReceiverLink& link, NotificationSink* window,
                          const std::function<void()>& whileTsip = {});

}  // namespace kestrune
