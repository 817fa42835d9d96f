// The command line's reading of the NMEA selection, on the same link and procedures as the
// window.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "link/receiver_link.h"
#include "link/receiver_search.h"
#include "tools/kestrunectl/receiver_report.h"
#include "tools/kestrunectl/selection_sink.h"

namespace kestrune::ctl {

// Asks a receiver just found for its NMEA selection and waits for it: a TSIP receiver's report
// comes later, up to the NMEA report wait; an NMEA receiver is asked in TSIP and switched back.
// Nothing when it never came or the wait was cancelled. The sink must be the link's window.
// whileTsip runs once while the receiver speaks TSIP (see requestNmeaSelection).
std::optional<NmeaMask> readSelection(ReceiverLink& link, SelectionSink& sink,
                                      const std::function<void()>& whileTsip = {});

// The receiver on port as the link last verified it.
ReceiverReport verifiedReport(const ReceiverLink& link, const std::string& port);
// What show prints of a receiver just found: the verified report with its sentence selection
// (nothing inside when it never came) and, withIdentity, who the receiver is (empty parts when
// it did not say). show and show --all both print this.
ReceiverReport shownReport(ReceiverLink& link, SelectionSink& sink, const std::string& port,
                           bool withIdentity);

}  // namespace kestrune::ctl
