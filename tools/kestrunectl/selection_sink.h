// Where the link's reader posts the receiver's NMEA selection (the 0x7B report) while a command
// waits for it.
#pragma once

#include <mutex>
#include <optional>

#include "link/notification_sink.h"
#include "link/pulse_event.h"
#include "protocol/receiver_settings.h"

namespace kestrune::ctl {

class SelectionSink final : public NotificationSink {
  public:
    void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) override;

    // Drops a selection already kept, before asking again.
    void forget();
    std::optional<NmeaMask> selection() const;
    // Pulsed when a selection arrives; arm a wait on it before asking.
    PulseEvent& arrived() { return arrived_; }

  private:
    mutable std::mutex mutex_;
    std::optional<NmeaMask> selection_;
    PulseEvent arrived_;
};

}  // namespace kestrune::ctl
