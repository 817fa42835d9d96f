#include "link/receiver_identity.h"

#include <chrono>
#include <utility>

#include "link/receiver_link.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kFirmwareAnswered = 0x01;
constexpr std::uint8_t kHardwareAnswered = 0x02;
constexpr std::uint8_t kSoftwareAnswered = 0x04;
constexpr std::uint8_t kAllAnswered = kFirmwareAnswered | kHardwareAnswered | kSoftwareAnswered;

// A 0x13 holds the ID and data of the packet refused: 13 1C 03 refuses the hardware query. One
// that stops after the ID refuses both queries of that ID.
std::uint8_t refusedQueries(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return 0;
    }
    if (data[0] == kIdSoftwareVersionQuery) {
        return kSoftwareAnswered;
    }
    if (data[0] != kIdIdentity) {
        return 0;
    }
    if (data.size() == 1) {
        return kFirmwareAnswered | kHardwareAnswered;
    }
    return data[1] == kFirmwareQuerySubcode   ? kFirmwareAnswered
           : data[1] == kHardwareQuerySubcode ? kHardwareAnswered
                                              : 0;
}

}  // namespace

// A report that cannot be read still answers its query: asking again would get no other.
void IdentityReplies::note(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return;
    }
    const auto data = message.subspan(1);
    const std::lock_guard lock(mutex_);
    const std::uint8_t before = state_.answered;
    ReceiverIdentity& identity = state_.identity;
    if (message[0] == kIdSoftwareVersion) {
        identity.software = decodeSoftwareVersion(data);
        state_.answered |= kSoftwareAnswered;
    } else if (message[0] == kIdIdentity && !data.empty() && data[0] == kFirmwareReportSubcode) {
        identity.firmware = decodeFirmwareReport(data);
        state_.answered |= kFirmwareAnswered;
    } else if (message[0] == kIdIdentity && !data.empty() && data[0] == kHardwareReportSubcode) {
        identity.hardware = decodeHardwareReport(data);
        state_.answered |= kHardwareAnswered;
    } else if (message[0] == kIdRejected) {
        state_.answered |= refusedQueries(data);
    }
    if (state_.answered != before) {
        arrived_.pulse();
    }
}

void IdentityReplies::forget() {
    const std::lock_guard lock(mutex_);
    state_ = State{};
}

ReceiverIdentity IdentityReplies::identity() const {
    const std::lock_guard lock(mutex_);
    return state_.identity;
}

bool IdentityReplies::settled() const {
    const std::lock_guard lock(mutex_);
    return state_.answered == kAllAnswered;
}

// The wait is armed before each look at the replies, so an answer between the look and the wait
// still ends the wait.
ReceiverIdentity readIdentity(ReceiverLink& link) {
    IdentityReplies& replies = link.identityReplies();
    replies.forget();
    if (!link.verified()) {
        return {};
    }
    const Clock::time_point deadline = Clock::now() + link.timing().identityWait;
    bool asked = false;
    for (;;) {
        EventWait answer(replies.arrived(), &link.cancellation());
        if (!std::exchange(asked, true)) {
            for (const TsipFrame& query :
                 {softwareVersionQuery(), firmwareQuery(), hardwareQuery()}) {
                (void)link.write(query);
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (replies.settled() || left <= std::chrono::milliseconds{0} ||
            answer.wait(left) != WaitResult::First) {
            return replies.identity();
        }
    }
}

}  // namespace kestrune
