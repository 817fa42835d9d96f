// Who the receiver is, asked once it has been found: the reader notes the identity reports and
// the rejections of their queries as they come (link/identity_replies.h), and the procedure
// collects them for a bounded wait. A receiver that answers none of the queries costs at most
// that wait, and is no failure.
#pragma once

#include <cstdint>
#include <string>

#include "link/identity_replies.h"

namespace kestrune {

class ReceiverLink;

// Asks a receiver just found (the link verified) for its identity, all three queries at once,
// and collects the answers until each query has had one or the link's identity wait has passed.
// A cancel ends it with what has come. Nothing is asked of a link that is not verified.
ReceiverIdentity readIdentity(ReceiverLink& link);

// The product name and firmware version in one short phrase, as a window shows it beside the
// port: "Example Receiver, firmware 2.14". A receiver that gave only its software version report
// is named by its hardware report's product, if any; one that answered nothing gives "".
std::string identitySummary(const ReceiverIdentity& identity);

// "2.14": a version as the receiver's reports give it.
std::string versionText(std::uint8_t major, std::uint8_t minor);

}  // namespace kestrune
