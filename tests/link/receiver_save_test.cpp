// Saving the configuration in the virtual receiver, and what a power cycle then brings back.
#include "link/receiver_save.h"

#include <gtest/gtest.h>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"
#include "link/receiver_search.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"
#include "tests/support/recording_sink.h"

namespace kestrune::test {
namespace {

constexpr double kFactor = 0.05;
constexpr LineSettings kNewLine{4800, Parity::Odd, StopBits::One};
constexpr ReceiverConfig kNewConfig{kNewLine, OutputProtocol::Tsip, kMaskGga};

struct Rig {
    VirtualReceiver receiver;
    RecordingSink sink;
    ReceiverLink link;

    explicit Rig(const ReceiverBehaviour& behaviour = {})
        : receiver({}, behaviour, kFactor),
          link(Timing{}.scaled(kFactor),
               [this](std::string_view) { return OpenResult{SimulatedPort::open(receiver)}; }) {
        EXPECT_TRUE(link.open());
    }
};

TEST(ReceiverSaveTest, EachAnswerGivesItsOutcome) {
    struct Case {
        const char* name;
        ReceiverBehaviour behaviour;
        SaveOutcome outcome;
        bool kept;
    };
    const Case cases[] = {
        {"report", {.saveAnswer = SaveAnswer::Report}, SaveOutcome::Saved, true},
        {"restart", {.saveAnswer = SaveAnswer::Restart}, SaveOutcome::Saved, true},
        {"refuse", {.saveAnswer = SaveAnswer::Refuse}, SaveOutcome::CannotSave, false},
        {"silent", {.answering = Answering::Silent}, SaveOutcome::NotConfirmed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.behaviour);
        ASSERT_TRUE(rig.link.configurePort(kFactoryLine));
        EXPECT_EQ(saveConfiguration(rig.link), c.outcome);
        EXPECT_EQ(rig.receiver.savedSettings().has_value(), c.kept);
    }
}

// Only what was saved outlives a power cycle; the line break returns the port in force to the
// factory line and leaves the saved configuration alone.
TEST(ReceiverSaveTest, APowerCycleBringsBackWhatWasSaved) {
    struct Case {
        const char* name;
        bool save;
        bool breakAfter;
        LineSettings found;
    };
    const Case cases[] = {
        {"set only", false, false, kFactoryLine},
        {"set and save", true, false, kNewLine},
        {"set, save, line break", true, true, kNewLine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(applySettings(rig.link, &rig.sink, kNewConfig));
        if (c.save) {
            ASSERT_EQ(saveConfiguration(rig.link), SaveOutcome::Saved);
        }
        if (c.breakAfter) {
            ASSERT_TRUE(resetReceiver(rig.link, &rig.sink));
            EXPECT_EQ(rig.receiver.settings().line, kFactoryLine);
        }
        rig.receiver.powerCycle();
        ASSERT_TRUE(searchReceiver(rig.link));
        EXPECT_EQ(rig.link.verifiedSettings(), c.found);
        EXPECT_EQ(rig.receiver.settings().sentenceMask != kFactorySentences, c.save);
    }
}

}  // namespace
}  // namespace kestrune::test
