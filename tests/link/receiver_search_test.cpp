// The search against the virtual receiver, whose line garbles what a port at other settings hears
// as a real UART would, with every delay of both sides shrunk by the same factor.
#include "link/receiver_search.h"

#include <gtest/gtest.h>

#include <thread>

#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"

namespace kestrune::test {
namespace {

constexpr double kFactor = 0.1;
// Each probe waits for at least one of the receiver's output intervals.
constexpr double kStrictFactor = 0.03;
constexpr std::uint32_t kSeeds[] = {1, 7, 40503};
constexpr OutputProtocol kOutputs[] = {OutputProtocol::Nmea, OutputProtocol::Tsip};

struct Rig {
    VirtualReceiver receiver;
    ReceiverLink link;

    Rig(const LineSettings& line, OutputProtocol output, std::uint32_t seed, double factor)
        : receiver(ReceiverSettings{.line = line, .output = output},
                   ReceiverBehaviour{.lineSeed = seed}, factor),
          link(Timing{}.scaled(factor),
               [this](std::string_view) { return OpenResult{SimulatedPort::open(receiver)}; }) {
        EXPECT_TRUE(link.open());
    }
};

// Found at its own settings by the quick pass alone, whatever it sends, by following what the
// port hears at the wrong settings.
TEST(ReceiverSearch, TheQuickPassFindsAReceiverAtEverySetting) {
    for (const OutputProtocol output : kOutputs) {
        for (const LineSettings& line : probeOrder()) {
            Rig rig(line, output, kSeeds[0], kFactor);
            bool fullPass = false;
            SearchOptions options;
            options.onProbe = [&](std::string_view pass, const ProbeProgress&) {
                fullPass = fullPass || pass == kFullPass;
            };
            EXPECT_EQ(findReceiver(rig.link, options), SearchOutcome::Found);
            EXPECT_EQ(rig.link.verifiedSettings(), line);
            EXPECT_EQ(rig.link.outputProtocol(), output);
            EXPECT_FALSE(fullPass) << line.baud << " " << static_cast<int>(line.parity);
        }
    }
}

// Whatever a port at another setting makes of a receiver's output, and whatever the receiver
// makes of the port's questions, a probe there never takes it for an answer: over every pair of
// receiver setting and probed setting, for both protocols, with several line seeds. Each
// receiver setting runs on its own thread.
TEST(ReceiverSearch, AProbeNeverFindsAReceiverAtAnyOtherSetting) {
    const auto& order = probeOrder();
    for (const OutputProtocol output : kOutputs) {
        for (const std::uint32_t seed : kSeeds) {
            std::vector<std::thread> receivers;
            for (const LineSettings& own : order) {
                receivers.emplace_back([&, own] {
                    Rig rig(own, output, seed, kStrictFactor);
                    for (const LineSettings& probed : order) {
                        if (probed != own) {
                            EXPECT_FALSE(probeSetting(rig.link, probed, rig.link.timing().leadWait))
                                << own.baud << "/" << static_cast<int>(own.parity) << " at "
                                << probed.baud << "/" << static_cast<int>(probed.parity);
                        }
                    }
                    EXPECT_FALSE(rig.link.verified());
                });
            }
            for (std::thread& receiver : receivers) {
                receiver.join();
            }
        }
    }
}

}  // namespace
}  // namespace kestrune::test
