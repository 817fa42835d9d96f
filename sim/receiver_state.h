// What the virtual receiver is: its port settings and output selection, how it behaves, and the
// record it keeps of what the host sent it. Settings are the program's own values, so tests
// compare them directly with what the link stores.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/receiver_settings.h"
#include "sim/identity_profile.h"
#include "sim/line_noise.h"
#include "sim/receiver_fix.h"
#include "sim/uart_model.h"

namespace kestrune {

// The receiver's own 32-bit sentence mask (not the program's seven-bit NmeaMask: RMC lives in
// bit 8 here).
inline constexpr std::uint32_t kSentenceGga = 1u << 0;
inline constexpr std::uint32_t kSentenceGll = 1u << 1;
inline constexpr std::uint32_t kSentenceVtg = 1u << 2;
inline constexpr std::uint32_t kSentenceGsv = 1u << 3;
inline constexpr std::uint32_t kSentenceGsa = 1u << 4;
inline constexpr std::uint32_t kSentenceZda = 1u << 5;
inline constexpr std::uint32_t kSentenceRmc = 1u << 8;
inline constexpr std::uint32_t kFactorySentences =
    kSentenceGga | kSentenceGsv | kSentenceGsa | kSentenceRmc;

inline constexpr std::uint32_t kFactoryIntervalSeconds = 1;

struct ReceiverSettings {
    LineSettings line = kFactoryLine;
    OutputProtocol output = OutputProtocol::Tsip;
    std::uint32_t sentenceMask = kFactorySentences;
    std::uint32_t intervalSeconds = kFactoryIntervalSeconds;
    bool operator==(const ReceiverSettings&) const = default;
};

// How the receiver answers what it hears.
enum class Answering {
    ExactSettings,      // answers whatever it hears at exactly its own baud rate and parity
    Silent,             // hears and obeys, but its transmit line is dead: it sends nothing
    RejectsPortConfig,  // answers every port configuration it is sent with a rejection
};

// How the receiver answers a request to save its configuration, as receivers differ.
enum class SaveAnswer {
    Report,   // saves and answers with a 0x8F-26 report
    Restart,  // saves, restarts, and sends its software version report (0x45) once up
    Refuse,   // has no non-volatile memory: answers 0x13, as to any packet it cannot parse
};

struct ReceiverBehaviour {
    Answering answering = Answering::ExactSettings;
    SaveAnswer saveAnswer = SaveAnswer::Report;
    // The seed of the short idle gaps the receiver leaves on the line before each character,
    // which decide where a UART at another rate finds its start bits.
    std::uint32_t lineSeed = 1;
    // Output keeps its own once-per-interval schedule even across a protocol switch, instead of
    // starting at once, as some receivers do.
    bool ownSchedule = false;
    // The reports (TSIP) or sentences (NMEA) sent once per interval; off, the receiver speaks
    // only when asked, for measuring answers without a report in their way.
    bool periodicOutput = true;
    // A fault: every port report names this line instead of the one the receiver is at.
    std::optional<LineSettings> reportedLine = std::nullopt;
    // Where it stands, and the seed of the jitter of its reported position.
    Place place = kDefaultPlace;
    std::uint32_t jitterSeed = 1;
    // What it answers to the identity queries.
    IdentityProfile identity{};
    // The serial hardware between it and the host.
    UartModel uart{};
    // What the host hears where the receiver does not talk.
    LineNoise noise = LineNoise::None;
    bool operator==(const ReceiverBehaviour&) const = default;
};

// One stretch of bytes the host wrote, with the host's line settings at the time, and whether
// the receiver got exactly them (its UART at the same rate and parity, no line break). A write
// is split where that changes part-way (a port configuration in the middle of it moved the
// receiver away).
struct HostWrite {
    std::vector<std::uint8_t> bytes;
    LineSettings hostSettings;
    bool heard = false;
    bool operator==(const HostWrite&) const = default;
};

// The far end of the receiver's line: whatever listens to what it sends.
class HostLine {
  public:
    virtual ~HostLine() = default;
    // One byte reaches the host. Called with the receiver's lock held, so it must not call back
    // into the receiver, and must not block.
    virtual void deliver(std::uint8_t byte) = 0;
};

}  // namespace kestrune
