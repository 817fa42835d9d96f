#include "protocol/gsv_sentence.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace kestrune::test {
namespace {

using Satellites = std::vector<GsvSatellite>;

std::optional<Satellites> decoded(std::string_view sentence) {
    const auto bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size());
    const std::optional<GsvSatellites> satellites = decodeGsv(bytes);
    if (!satellites) {
        return std::nullopt;
    }
    return Satellites(satellites->view().begin(), satellites->view().end());
}

TEST(GsvSentence, DecodesTheSatellitesOfRealSentenceShapes) {
    const struct {
        const char* name;
        std::string_view sentence;
        std::optional<Satellites> expected;
    } cases[] = {
        {"four satellites", "$GPGSV,2,1,07,03,71,118,50,07,54,301,48,11,38,042,45,17,27,197,42*7B",
         Satellites{{3, 50}, {7, 48}, {11, 45}, {17, 42}}},
        {"three satellites, the last not tracked",
         "$GPGSV,2,2,07,19,19,256,39,26,11,077,33,30,06,335,*41",
         Satellites{{19, 39}, {26, 33}, {30, 0}}},
        {"an empty SNR inside, the last cut short of its SNR field",
         "$GPGSV,2,2,07,19,19,256,39,26,11,077,,30,06,335*6D",
         Satellites{{19, 39}, {26, 0}, {30, 0}}},
        {"an empty satellite block is skipped", "$GPGSV,3,3,09,,,,,05,12,200,31*46",
         Satellites{{5, 31}}},
        {"another talker, with the signal identifier after the satellites",
         "$GLGSV,1,1,02,65,40,100,44,88,10,020,28,1*75", Satellites{{65, 44}, {88, 28}}},
        {"no satellites in view", "$GPGSV,1,1,00*79", Satellites{}},
        {"a bad SNR, a PRN too large, PRN 0 and an SNR of three digits are each left out",
         "$GPGSV,1,1,04,07,54,301,4X,300,10,100,40,00,10,100,40,09,10,100,100*1E", Satellites{}},
        {"lowercase checksum digits", "$GPGSV,2,2,07,19,19,256,39,26,11,077,,30,06,335*6d",
         Satellites{{19, 39}, {26, 0}, {30, 0}}},
        {"bad checksum", "$GPGSV,2,1,07,03,71,118,50,07,54,301,48,11,38,042,45,17,27,197,42*7C",
         std::nullopt},
        {"no checksum", "$GPGSV,2,1,07,03,71,118,50", std::nullopt},
        {"an empty count", "$GPGSV,,1,07,03,71,118,50*77", std::nullopt},
        {"not GSV", "$GPGGA,120000.00,5213.44120,N,00458.12680,E,1,07,1.0,58.6,M,0.0,M,,*60",
         std::nullopt},
        {"too short for an address", "$GPGS*00", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decoded(c.sentence), c.expected);
    }
}

}  // namespace
}  // namespace kestrune::test
