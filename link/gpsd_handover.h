// Borrowing a port from gpsd for one command: gpsd is asked to let go of the device, the port is
// waited on until gpsd has closed it, and whatever happens next the device goes back to gpsd when
// the handover ends, with its line at the receiver's new settings so that gpsd finds the receiver
// at once instead of hunting for it. This is the one case where a port is not put back as it was.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/gpsd_control.h"
#include "protocol/receiver_settings.h"

namespace kestrune {

// gpsd closes a device it lets go of before it answers; a holder still seen after this is
// something else.
inline constexpr std::chrono::milliseconds kGpsdReleaseWait{2000};
inline constexpr std::chrono::milliseconds kGpsdReleasePoll{50};
// The command name of gpsd's process, as the port's holder shows it.
inline constexpr const char* kGpsdProcessName = "gpsd";

// True when the device's holder is gpsd.
bool heldByGpsd(const std::string& device);

enum class HandoverState {
    LetGo,      // gpsd let go and the port is free
    NoSocket,   // no control socket answers there
    NoAccess,   // the socket is there, but this user may not use it
    Refused,    // gpsd does not have the device under any of its names
    StillHeld,  // gpsd said yes, but the port stayed busy
    Failed,     // the socket failed or never answered
};

struct HandoverOptions {
    std::string socketPath = kGpsdControlSocket;
    // Asked while waiting for the port to come free: true ends the wait.
    std::function<bool()> giveUp;
    // Told each step in one line: "gpsd let go of /dev/ttyUSB0", "gpsd has /dev/ttyUSB0 back".
    std::function<void(const std::string&)> say;
};

class GpsdHandover {
  public:
    // Asks gpsd to let go of the device, by each of names in turn (the names gpsd may have been
    // given it by: the device path and its links) until one is known to it; device is the node
    // whose holder is watched.
    GpsdHandover(std::string device, std::vector<std::string> names, HandoverOptions options);
    // Hands the device back, if gpsd let go of it.
    ~GpsdHandover();
    GpsdHandover(const GpsdHandover&) = delete;
    GpsdHandover& operator=(const GpsdHandover&) = delete;

    HandoverState state() const { return state_; }
    bool letGo() const { return state_ == HandoverState::LetGo; }
    // The line the port is left at for gpsd; without it the port is left as it was put back.
    void leaveLineAt(const LineSettings& line);
    // Gives the device back now rather than at the end; once only, from any thread. False only
    // when gpsd was lent the device and did not take it back.
    bool handBack();

  private:
    bool waitUntilFree() const;

    const std::string device_;
    HandoverOptions options_;
    HandoverState state_ = HandoverState::Failed;
    // The name gpsd let go of; empty once handed back, or when it never let go. Taken under the
    // lock, so that a handback from the stop-signal thread and one from the command's thread
    // give the device back once.
    mutable std::mutex lentMutex_;
    std::string lent_;
    // Under the same lock.
    std::optional<LineSettings> line_;
};

}  // namespace kestrune
