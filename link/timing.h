// Every delay of the link, the procedures and the commands, in one value. The program always
// uses the defaults; tests shrink them all by one factor together with the virtual receiver's
// clock.
#pragma once

#include <chrono>

#include "protocol/receiver_settings.h"
#include "protocol/tsip_save.h"

namespace kestrune {

// The longest scaled delay: far beyond any wait at any accepted factor, and far inside what a
// clock's time point can take added to it.
inline constexpr std::chrono::milliseconds kLongestScaledDelay = std::chrono::hours{24};

// A delay multiplied by a speed-up factor, rounded to whole milliseconds, at least one and at
// most kLongestScaledDelay. The link's timing and the virtual receiver's clock both shrink their
// delays with it, so a host and a receiver sped up by the same factor agree on every boundary.
std::chrono::milliseconds scaleDelay(std::chrono::milliseconds delay, double factor);

// How long bytes take on the line at these settings, times the factor, rounded up.
std::chrono::milliseconds lineTime(std::size_t bytes, const LineSettings& line, double factor);

struct Timing {
    std::chrono::milliseconds readCeiling{1000};
    std::chrono::milliseconds closeWait{2000};
    std::chrono::milliseconds rejectWait{1000};
    std::chrono::milliseconds nmeaReportWait{3000};
    std::chrono::milliseconds probeWait{3000};
    std::chrono::milliseconds verifyWait{5000};
    std::chrono::milliseconds breakLength{600};
    std::chrono::milliseconds breakQuiet{1000};
    std::chrono::milliseconds settle{1000};
    // A quick probe waits for the query and a full reply to cross the line, plus this for the
    // receiver to answer.
    std::chrono::milliseconds quickProbeMargin{150};
    // How long a receiver just found has to answer who it is: the three answers take 0.1 s at
    // 9600 bits/s, and a receiver that answers none of them costs no more than this.
    std::chrono::milliseconds identityWait{400};
    // How long the quick pass listens where what it heard points, beyond the line time of the
    // sentences it waits for: a receiver that talks once a second is quiet for at most this.
    std::chrono::milliseconds leadWait{1100};
    // What a UART's FIFO or a USB adapter already held at the old settings can still reach the
    // port this long after a change; a sentence completed within it may be the old setting's.
    std::chrono::milliseconds residueWait{30};
    // How long a streaming receiver's bytes gather at the port between two reads: short beside
    // every wait for a reply, and far inside what one read collects at any line rate.
    std::chrono::milliseconds gatherPause{80};
    // How long a save in the receiver may take to be answered.
    std::chrono::milliseconds saveWait{kSaveAnswerWait};
    // The factor every delay above was scaled by; line times are scaled by it too.
    double factor = 1.0;

    // All delays multiplied by factor, for tests on a sped-up receiver.
    Timing scaled(double factor) const;
};

}  // namespace kestrune
