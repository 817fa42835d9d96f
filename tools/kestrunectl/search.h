// The command line's search and its reading of the NMEA selection, on the same link and
// procedures as the window.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"
#include "tools/kestrunectl/selection_sink.h"

namespace kestrune::ctl {

inline constexpr std::string_view kQuickPass = "quick";
inline constexpr std::string_view kFullPass = "full";

// Told of each probe, with the pass it belongs to.
using ProbeReport = std::function<void(std::string_view pass, const ProbeProgress&)>;

// A quick pass, waiting at each setting only as long as the query and a full reply take to
// cross the line plus a short margin; then, only if that found nothing, the full search with its
// long waits. Both accept only a port report of the probed settings or a sentence whose checksum
// holds: random bytes at a wrong setting can form a packet, but not those. The window keeps its
// own full, lenient search.
bool findReceiver(ReceiverLink& link, const ProbeReport& onProbe = {});

// Asks a receiver just found for its NMEA selection and waits for it: a TSIP receiver's report
// comes later, up to the NMEA report wait; an NMEA receiver is asked in TSIP and switched back.
// Nothing when it never came or the wait was cancelled. The sink must be the link's window.
std::optional<NmeaMask> readSelection(ReceiverLink& link, SelectionSink& sink);

}  // namespace kestrune::ctl
