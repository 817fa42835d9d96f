// Reading who the receiver is, against the virtual receiver at real timing: the identity wait is
// then far longer than the answers take.
#include "link/receiver_identity.h"

#include <gtest/gtest.h>

#include "link/receiver_link.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"

namespace kestrune::test {
namespace {

// A receiver found is asked all three queries and each answer is read; one that refuses the
// queries leaves every part unknown; nothing at all is asked of a receiver not yet found.
TEST(ReceiverIdentity, ReadsWhatTheReceiverAnswersAndOnlyOnceFound) {
    const IdentityProfile named{true, "Example Receiver", 2, 14, 4711};
    const std::tuple<IdentityProfile, bool, bool> cases[] = {
        {named, true, true}, {{.answers = false}, true, false}, {named, false, false}};
    for (const auto& [profile, found, answers] : cases) {
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
        if (!answers) {
            EXPECT_EQ(identity, ReceiverIdentity{});
            continue;
        }
        EXPECT_EQ(identity.firmware->product, identity.hardware->product);
        EXPECT_EQ(identity.firmware->product.view(), "Example Receiver");
        EXPECT_EQ(identity.firmware->major * 100 + identity.firmware->minor, 214);
        EXPECT_EQ(identity.hardware->serialNumber, 4711u);
        EXPECT_EQ(identity.software->application, (ComponentVersion{2, 14, {2026, 3, 14}}));
    }
}

}  // namespace
}  // namespace kestrune::test
