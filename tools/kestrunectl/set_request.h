// The settings a command or a table asks for; what it leaves out is read from the receiver.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/receiver_settings.h"

namespace kestrune::ctl {

// The values set was given; the rest are read from the receiver.
struct SetRequest {
    std::optional<std::uint32_t> baud;
    std::optional<Parity> parity;
    std::optional<StopBits> stopBits;
    std::optional<OutputProtocol> protocol;
    std::optional<NmeaMask> sentences;

    bool complete() const { return baud && parity && stopBits && protocol && sentences; }
};

}  // namespace kestrune::ctl
