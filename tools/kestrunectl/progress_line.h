// The one-line progress display on stderr: what is being done, which setting is probed, how
// many of twelve, the pass and the time elapsed. Drawn only when stderr is a terminal and -q was
// not given; cleared before anything else is written.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "link/receiver_search.h"

namespace kestrune::ctl {

class ProgressLine {
  public:
    // Draws nothing unless enabled and stderr is a terminal.
    explicit ProgressLine(bool enabled);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // "find: quick pass, probe 3/12 at 19200 8O1, 0.4 s"
    void probe(SearchPass pass, const ProbeProgress& progress);
    // "set: applying 19200 8O1 NMEA, 0.0 s"
    void step(std::string_view text);
    void clear();

  private:
    void draw(const std::string& text);

    const bool enabled_;
    const std::chrono::steady_clock::time_point start_;
    bool drawn_ = false;
};

}  // namespace kestrune::ctl
