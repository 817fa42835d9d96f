// What watch has seen of the receiver's output: its protocol, each NMEA sentence type with a
// count and its latest sentence, each TSIP report ID with a count, and each satellite's signal
// level from the latest 0x47 report. Drawn as a screen, or written as one JSON object per
// message.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/receiver_settings.h"
#include "protocol/tsip_reports.h"

namespace kestrune::ctl {

class WatchView {
  public:
    // Takes one framed message: a TSIP packet (ID first) or a sentence ('$' first, no CR LF).
    void add(std::span<const std::uint8_t> message);

    // The whole screen, heading first, for a terminal redrawn in place.
    std::string screen(const std::string& heading) const;
    // One line of JSON for the message.
    static std::string jsonLine(std::span<const std::uint8_t> message);

  private:
    struct SentenceSeen {
        std::uint64_t count = 0;
        std::string latest;
    };

    std::string sentenceLines() const;
    std::string reportLines() const;
    std::string levelLines() const;

    std::optional<OutputProtocol> protocol_;
    std::map<std::string, SentenceSeen> sentences_;
    std::uint64_t damagedSentences_ = 0;
    std::map<std::uint8_t, std::uint64_t> reports_;
    std::vector<SignalLevel> levels_;
};

}  // namespace kestrune::ctl
