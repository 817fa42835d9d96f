#include "link/identity_replies.h"

namespace kestrune {

namespace {

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

// The queries a message answers: its report, or its refusal; none for any other message.
std::uint8_t answeredQueries(std::span<const std::uint8_t> message) {
    const auto data = message.subspan(1);
    switch (message[0]) {
        case kIdSoftwareVersion:
            return kSoftwareAnswered;
        case kIdIdentity:
            return data.empty()                        ? 0
                   : data[0] == kFirmwareReportSubcode ? kFirmwareAnswered
                   : data[0] == kHardwareReportSubcode ? kHardwareAnswered
                                                       : 0;
        case kIdRejected:
            return refusedQueries(data);
        default:
            return 0;
    }
}

}  // namespace

// Any other message leaves without taking the lock. A report that cannot be read still answers
// its query: asking again would get no other.
void IdentityReplies::note(std::span<const std::uint8_t> message) {
    const std::uint8_t answered = message.empty() ? 0 : answeredQueries(message);
    if (answered == 0) {
        return;
    }
    const auto data = message.subspan(1);
    {
        const std::lock_guard lock(mutex_);
        ReceiverIdentity& identity = state_.identity;
        if (message[0] == kIdSoftwareVersion) {
            identity.software = decodeSoftwareVersion(data);
        } else if (message[0] == kIdIdentity && answered == kFirmwareAnswered) {
            identity.firmware = decodeFirmwareReport(data);
        } else if (message[0] == kIdIdentity) {
            identity.hardware = decodeHardwareReport(data);
        }
        state_.answered |= answered;
    }
    arrived_.pulse();
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

}  // namespace kestrune
