// kestrune-sim's command line: what the virtual receiver starts as, and how it behaves.
#pragma once

#include <optional>
#include <string>

#include "sim/receiver_state.h"

namespace kestrune {

struct SimOptions {
    ReceiverSettings settings;
    ReceiverBehaviour behaviour;
    double speed = 1.0;  // multiplies every delay of the receiver
};

inline constexpr int kExitUsage = 2;
// The clock factors --speed takes: a thousand times faster to a thousand times slower.
inline constexpr double kFastestSpeed = 0.001;
inline constexpr double kSlowestSpeed = 1000.0;

// The receiver the command line asks for, or, once --help, --version or an error message has
// been printed, the status to exit with at once (0, or kExitUsage for a usage error).
struct CommandLine {
    std::optional<SimOptions> options;
    int exitStatus = 0;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// The port settings and output protocol in one line, such as "4800 8O1 TSIP".
std::string describeSettings(const ReceiverSettings& settings);

}  // namespace kestrune
