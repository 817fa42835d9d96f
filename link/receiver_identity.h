// Who the receiver is, asked once it has been found: the reader notes the identity reports and
// the rejections of their queries as they come, and the procedure collects them for a bounded
// wait. A receiver that answers none of the queries costs at most that wait, and is no failure.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "link/pulse_event.h"
#include "protocol/tsip_identity.h"

namespace kestrune {

class ReceiverLink;

// The identity as far as the receiver gave it; nothing in a part it did not answer.
struct ReceiverIdentity {
    std::optional<FirmwareReport> firmware;
    std::optional<HardwareReport> hardware;
    std::optional<SoftwareVersion> software;
    bool operator==(const ReceiverIdentity&) const = default;
};

// Filled by the reader, read by the procedure: the reports so far, and which of the three
// queries have had their answer, a report or a rejection.
class IdentityReplies {
  public:
    // Takes a firmware, hardware or software version report, or the rejection of one of their
    // queries; any other message is left alone.
    void note(std::span<const std::uint8_t> message);
    // Drops what was noted, before asking again.
    void forget();
    ReceiverIdentity identity() const;
    // Every query has had its answer.
    bool settled() const;
    // Pulsed on each message noted; arm a wait on it before asking.
    PulseEvent& arrived() { return arrived_; }

  private:
    struct State {
        ReceiverIdentity identity;
        std::uint8_t answered = 0;  // one bit per query
    };
    void settle(std::uint8_t queries);

    mutable std::mutex mutex_;
    State state_;
    PulseEvent arrived_;
};

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
