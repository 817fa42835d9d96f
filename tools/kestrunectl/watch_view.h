// What watch has seen of the receiver's output: its protocol, each NMEA sentence type with a
// count and its latest sentence, each TSIP report ID with a count, and each satellite's signal
// level from the latest 0x47 report. Drawn as a screen, or written as one JSON object per
// message. The screen has a bounded number of rows, whatever the line brings: the seven
// selectable sentence types and a few others get a row each, as do the first report IDs seen,
// and the rest are counted on an "other" row of their table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

    static constexpr std::size_t kOtherSentenceRows = 8;
    static constexpr std::size_t kReportRows = 16;

  private:
    struct SentenceSeen {
        std::uint64_t count = 0;
        std::string latest;
    };

    // The row of the type, or nothing when the type gets none.
    SentenceSeen* sentenceRow(std::string_view type);
    std::string sentenceLines() const;
    std::string reportLines() const;
    std::string levelLines() const;

    std::optional<OutputProtocol> protocol_;
    std::map<std::string, SentenceSeen> sentences_;
    std::uint64_t damagedSentences_ = 0;
    std::size_t otherSentenceRows_ = 0;
    std::uint64_t otherSentences_ = 0;
    std::map<std::uint8_t, std::uint64_t> reports_;
    std::uint64_t otherReports_ = 0;
    std::vector<SignalLevel> levels_;
};

}  // namespace kestrune::ctl
