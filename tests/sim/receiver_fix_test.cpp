#include "sim/receiver_fix.h"

#include <gtest/gtest.h>

#include "sim/nmea_output.h"
#include "sim/receiver_state.h"

namespace kestrune::test {
namespace {

using namespace std::chrono;

struct GpsTimeCase {
    const char* name;
    sys_seconds utc;
    std::uint32_t week;
    std::uint32_t timeOfWeek;
};

TEST(ReceiverFixTest, GpsTimeIsUtcPlusTheLeapSecondsInWeeksSince1980) {
    const GpsTimeCase cases[] = {
        {"the epoch", sys_days(year(1980) / January / 6), 0, 18},
        {"end of 2016", sys_days(year(2016) / December / 31) + 86399s, 1930, 17},
        {"a Monday in 2026", sys_days(year(2026) / December / 7) + 5h + 51min + 42s, 2448, 107520},
        {"end of a week", sys_days(year(2026) / December / 12) + 86399s - 18s, 2448, 604799},
    };
    for (const GpsTimeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const FixTime time = fixTimeAt(c.utc + 999ms);  // a fix is stamped with its whole second
        EXPECT_EQ(time.utc, c.utc);
        EXPECT_EQ(time.gpsWeek, c.week);
        EXPECT_EQ(time.timeOfWeek, c.timeOfWeek);
    }
}

// The sentences carry the host's date, not one that a host could take for a week rollover, and
// the place in degrees and minutes with its hemispheres.
TEST(ReceiverFixTest, SentencesCarryTheDateTimeAndPlaceOfTheFix) {
    const Fix fix{fixTimeAt(sys_days(year(2026) / December / 7) + 5h + 51min + 42s),
                  Place{-33.44890, -70.66930, 520.0}};
    const std::string sentences = nmeaSentences(kSentenceGga | kSentenceZda | kSentenceRmc, fix);
    EXPECT_NE(sentences.find("$GPGGA,055142.00,3326.93400,S,07040.15800,W,1,07,1.0,520.0,M,"),
              std::string::npos)
        << sentences;
    EXPECT_NE(sentences.find("$GPZDA,055142.00,07,12,2026,"), std::string::npos) << sentences;
    EXPECT_NE(sentences.find(",071226,"), std::string::npos) << sentences;
}

}  // namespace
}  // namespace kestrune::test
