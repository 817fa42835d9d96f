#include "link/receiver_identity.h"

#include <chrono>
#include <utility>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// The three answers on the line, framed, for a product name of the usual length.
constexpr std::size_t kAnswersBytes = 96;

}  // namespace

// The wait is armed before each look at the replies, so an answer between the look and the wait
// still ends the wait.
ReceiverIdentity readIdentity(ReceiverLink& link) {
    IdentityReplies& replies = link.identityReplies();
    replies.forget();
    const std::optional<LineSettings> line = link.verifiedSettings();
    if (!line) {
        return {};
    }
    // On a slow line the answers alone take longer than the wait: at 1200 bits/s, 0.8 s.
    const Clock::time_point deadline = Clock::now() + link.timing().identityWait +
                                       lineTime(kAnswersBytes, *line, link.timing().factor);
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

std::string versionText(std::uint8_t major, std::uint8_t minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string identitySummary(const ReceiverIdentity& identity) {
    const auto version = [](std::uint8_t major, std::uint8_t minor) {
        return "firmware " + versionText(major, minor);
    };
    if (identity.firmware) {
        return std::string(identity.firmware->product.view()) + ", " +
               version(identity.firmware->major, identity.firmware->minor);
    }
    if (!identity.software) {
        return {};
    }
    const ComponentVersion& application = identity.software->application;
    const std::string product =
        identity.hardware ? std::string(identity.hardware->product.view()) + ", " : std::string{};
    return product + version(application.major, application.minor);
}

}  // namespace kestrune
