#include "link/gpsd_handover.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>
#include <utility>

#include "link/file_descriptor.h"
#include "link/port_holder.h"
#include "link/termios_line.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

HandoverState stateOf(GpsdAnswer answer) {
    switch (answer) {
        case GpsdAnswer::Ok:
            return HandoverState::LetGo;
        case GpsdAnswer::Error:
            return HandoverState::Refused;
        case GpsdAnswer::NoSocket:
            return HandoverState::NoSocket;
        case GpsdAnswer::NoAccess:
            return HandoverState::NoAccess;
        case GpsdAnswer::NoAnswer:
        case GpsdAnswer::Failed:
            break;
    }
    return HandoverState::Failed;
}

// Opened without taking the port, only to set its line: the settings stay with the terminal once
// it is closed, and gpsd tries them first.
void setLine(const std::string& device, const LineSettings& line) {
    const FileDescriptor fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios attributes{};
    if (!fd.valid() || ::tcgetattr(fd.get(), &attributes) != 0 || !composeLine(attributes, line)) {
        return;
    }
    (void)retryInterrupted([&] { return ::tcsetattr(fd.get(), TCSANOW, &attributes); });
}

}  // namespace

bool heldByGpsd(const std::string& device) {
    const std::optional<PortHolder> holder = findPortHolder(device);
    return holder && holder->name == kGpsdProcessName;
}

GpsdHandover::GpsdHandover(std::string device, std::vector<std::string> names,
                           HandoverOptions options)
    : device_(std::move(device)), options_(std::move(options)) {
    for (const std::string& name : names) {
        state_ = stateOf(gpsdControl(options_.socketPath, GpsdRequest::Release, name));
        if (state_ != HandoverState::Refused) {
            lent_ = state_ == HandoverState::LetGo ? name : std::string();
            break;
        }
    }
    if (lent_.empty()) {
        return;
    }
    if (options_.say) {
        options_.say("gpsd let go of " + lent_);
    }
    if (!waitUntilFree()) {
        state_ = HandoverState::StillHeld;
    }
}

GpsdHandover::~GpsdHandover() {
    (void)handBack();
}

bool GpsdHandover::waitUntilFree() const {
    const Clock::time_point deadline = Clock::now() + kGpsdReleaseWait;
    while (heldByGpsd(device_)) {
        if (Clock::now() >= deadline || (options_.giveUp && options_.giveUp())) {
            return false;
        }
        std::this_thread::sleep_for(kGpsdReleasePoll);
    }
    return true;
}

void GpsdHandover::leaveLineAt(const LineSettings& line) {
    const std::lock_guard lock(lentMutex_);
    line_ = line;
}

bool GpsdHandover::handBack() {
    std::string name;
    std::optional<LineSettings> line;
    {
        const std::lock_guard lock(lentMutex_);
        name = std::exchange(lent_, std::string());
        line = line_;
    }
    if (name.empty()) {
        return true;
    }
    if (line) {
        setLine(device_, *line);
    }
    const GpsdAnswer answer = gpsdControl(options_.socketPath, GpsdRequest::TakeBack, name);
    if (options_.say) {
        options_.say(answer == GpsdAnswer::Ok
                         ? "gpsd has " + name + " back"
                         : "gpsd did not take " + name +
                               " back; restart it (sudo systemctl restart gpsd)");
    }
    return answer == GpsdAnswer::Ok;
}

}  // namespace kestrune
