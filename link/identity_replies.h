// Who the receiver is, as the reader collects it: the identity reports and the rejections of
// their queries are noted as they come, for the procedure that asks (link/receiver_identity.h)
// to collect.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "link/pulse_event.h"
#include "protocol/tsip_identity.h"

namespace kestrune {

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

}  // namespace kestrune
