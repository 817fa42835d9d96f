// The one search both front ends run: a quick pass, then, unless it found the receiver, the full
// pass with its long waits. The quick pass asks at each setting briefly and follows what it hears
// at the wrong ones to where the receiver talks, so a receiver that only streams sentences is
// found within a couple of its output intervals. Either pass takes a setting only on a port
// report of exactly that rate and parity or an NMEA sentence whose checksum holds: bytes that
// arrive at a wrong setting are what a UART makes of another speed, and can form a packet by
// chance.
#pragma once

#include <functional>
#include <string_view>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"

namespace kestrune {

inline constexpr std::string_view kQuickPass = "quick";
inline constexpr std::string_view kFullPass = "full";

// Told of each probe, with the pass it belongs to.
using ProbeReport = std::function<void(std::string_view pass, const ProbeProgress&)>;

struct SearchOptions {
    // Run the full pass even when the quick pass heard no byte at all on the port. A search of
    // one port does; a search of every port may leave a port with nothing attached for later.
    bool fullPassWhenSilent = true;
    ProbeReport onProbe;
};

enum class SearchOutcome {
    Found,     // the link holds the verified settings
    NotFound,  // every pass ran (or a cancel stopped it) without an answer
    Silent,    // the quick pass heard no byte at all, and the full pass was left out
};

SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options = {});

// Finds the receiver and asks for its NMEA selection, which reaches window as a notification;
// whileTsip runs once while the receiver speaks TSIP (see requestNmeaSelection).
bool readReceiverSettings(ReceiverLink& link, NotificationSink* window,
                          const std::function<void()>& whileTsip = {});

}  // namespace kestrune
