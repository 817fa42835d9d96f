// Reading who the receiver is, against the virtual receiver at real timing: the identity wait is
// then far longer than the answers take.
#include "link/receiver_identity.h"

#include <gtest/gtest.h>

#include "link/receiver_link.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"
#include "tests/support/report_text.h"

namespace kestrune::test {
namespace {

// A receiver found is asked all three queries and each answer is read; one that refuses the
// queries leaves every part unknown; nothing at all is asked of a receiver not yet found.
TEST(ReceiverIdentity, ReadsWhatTheReceiverAnswersAndOnlyOnceFound) {
    const IdentityProfile named{true, "Example Receiver", 2, 14, 4711};
    // The simulator's build (7 of 14 March 2026), GPS core 3.1 and hardware code 1001.
    const ReceiverIdentity answered{
        FirmwareReport{test::named("Example Receiver"), 2, 14, 7, {2026, 3, 14}},
        HardwareReport{4711, 1001, test::named("Example Receiver"), {2026, 3, 14}},
        SoftwareVersion{{2, 14, {2026, 3, 14}}, {3, 1, {2026, 3, 14}}}};
    const std::tuple<IdentityProfile, bool, ReceiverIdentity> cases[] = {
        {named, true, answered}, {{.answers = false}, true, {}}, {named, false, {}}};
    for (const auto& [profile, found, expected] : cases) {
        VirtualReceiver receiver({}, {.periodicOutput = false, .identity = profile});
        ReceiverLink link(
            {}, [&](std::string_view) { return OpenResult{SimulatedPort::open(receiver)}; });
        ASSERT_TRUE(link.open());
        if (found) {
            link.storeVerified(kFactoryLine);
        }
        const ReceiverIdentity identity = readIdentity(link);
        link.close();
        EXPECT_EQ(receiver.hostWrites().empty(), !found);
        EXPECT_EQ(identity, expected);
    }
}

}  // namespace
}  // namespace kestrune::test
