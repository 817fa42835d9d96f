#include "sim/line_noise.h"

#include <array>
#include <string>

#include "sim/nmea_output.h"
#include "sim/receiver_reports.h"
#include "sim/seeded_draw.h"
#include "sim/tsip_messages.h"

namespace kestrune {

namespace {

// Random bytes ahead of each message: as many as a short report, so that the framer meets them
// between messages as it meets a stream it joined in the middle.
constexpr std::uint32_t kRandomBytes = 12;
constexpr std::uint32_t kPacketDataBytes = 8;
constexpr std::uint32_t kByteValues = 256;
// Reports a receiver sends of itself (time, health, signal levels): framed, but not the port
// report an answer is.
constexpr std::array<std::uint8_t, 4> kOtherIds{kSimIdGpsTime, kSimIdHealth, kSimIdMachine,
                                                kSimIdSignalLevels};
// The stream of draws for one burst: far enough apart that bursts share none.
constexpr std::uint64_t kDrawsPerBurst = 64;
constexpr char kSentenceBody[] =
    "GPGGA,120000.00,5213.4412,N,00458.1268,E,1,08,1.0,58.6,M,47.0,M,,";
constexpr std::size_t kChecksumDigits = 2;

std::uint8_t drawByte(std::uint64_t stream, int index) {
    const double unit = (seededDraw(stream, index) + 1.0) / 2.0;  // 0 to 1
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit * kByteValues) % kByteValues);
}

// The sentence with its checksum's last digit moved on, so that it never holds.
std::string wrongChecksum() {
    std::string sentence = nmeaSentence(kSentenceBody);
    const std::size_t digit = sentence.find('*') + kChecksumDigits;
    sentence[digit] = sentence[digit] == '0' ? '1' : '0';
    return sentence;
}

}  // namespace

std::vector<std::uint8_t> noiseBurst(std::uint32_t seed, std::uint32_t index) {
    const std::uint64_t stream = mixBits(seed) + index * kDrawsPerBurst;
    int draw = 0;
    std::vector<std::uint8_t> burst;
    for (std::uint32_t i = 0; i < kRandomBytes; ++i) {
        burst.push_back(drawByte(stream, draw++));
    }
    if (index % 2 == 0) {
        std::array<std::uint8_t, kPacketDataBytes> data{};
        for (std::uint8_t& byte : data) {
            byte = drawByte(stream, draw++);
        }
        const std::uint8_t id = kOtherIds[drawByte(stream, draw++) % kOtherIds.size()];
        const std::vector<std::uint8_t> packet = tsipFrame(id, data);
        burst.insert(burst.end(), packet.begin(), packet.end());
    } else {
        const std::string sentence = wrongChecksum();
        burst.insert(burst.end(), sentence.begin(), sentence.end());
    }
    return burst;
}

}  // namespace kestrune
