// The receiver's answers to the standard queries a host sends to learn what it is and where it
// stands: each query draws one or more reports, framed, in the order they go out.
//   0x21        0x41 GPS time                0x26     0x46 health, then 0x4B machine code
//   0x24        0x6D fix mode                0x28     0x48 system message
//   0x27        0x47 signal levels
//   0x3C nn     0x5C per satellite (00: all) 0x35     0x55 I/O options (asked for or set)
// and the identity queries (sim/identity_answers.h).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/identity_profile.h"
#include "sim/receiver_fix.h"
#include "sim/receiver_reports.h"
#include "sim/tsip_parser.h"

namespace kestrune {

// The answer to a query at the moment of fix; nothing for a packet that is no query the receiver
// knows, or a query whose length or subcode it does not take (it rejects those instead).
Frames answerQuery(const TsipPacket& packet, const Fix& fix, const IdentityProfile& identity);

}  // namespace kestrune
