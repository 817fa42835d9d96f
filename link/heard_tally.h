// What the reader heard at one line setting, and what that says of where the sender talks.
//
// The principle holds on every UART, whatever it does after a framing error and whatever the
// two clocks: a port that listens faster than the sender samples each of the sender's bits
// several times, so inside one character every transition the port hears is a transition the
// sender made. A low run with a transition at both ends therefore spans a whole number of the
// sender's bits, which is a whole multiple of the ratio of the two rates (give or take one sample
// where the clocks differ by a few per cent); a high run may hold the idle time between two of
// the sender's characters, which has any length, so it is only known to last a bit at least.
// Where a character starts, and so the run that holds its start bit, depends on the UART and
// tells little. A character the port keeps passed its parity check and ended in a high stop
// sample, so its frame is known to the end: a run that ends at a low last data bit, or at a
// parity bit that differs from it, is inner too; only the run that reaches the stop bit is cut
// by the end of the frame and tells nothing. One shape without inner runs still tells: a byte
// low from its start bit through every data bit but the last. A port that starts on a falling
// edge of a sender eight times slower hears nothing else, and one that starts elsewhere in a low
// bit hears a shorter low run; a sender four times slower gives it only where two of its low
// bits follow one another. A sender faster than the port, or noise, gives characters whose inner
// runs no multiple explains; text is what sentences are made of, and a framed message is a
// sender heard whole. Whole characters in a sentence whose checksum fails are another device's
// talk: a receiver heard at its own setting sends sentences that check.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "protocol/nmea_sentence.h"
#include "protocol/receiver_settings.h"

namespace kestrune {

// The ratios a slower sender can show: two, four and eight times slower. Above eight every
// character heard is all low (a break or a framing error), which the port drops.
inline constexpr std::array<std::uint32_t, 3> kSlowerRatios{2, 4, 8};

// A TSIP receiver's longest unasked report: signal levels for twelve channels, DLE and the ID,
// one count byte and five bytes a channel, then DLE and ETX.
inline constexpr std::uint32_t kLongestReportBytes = 2 + 1 + 5 * 12 + 2;

// Bytes heard before what they show is trusted while listening goes on: enough to tell text from
// noise; for the rest, enough that a TSIP receiver's report would have framed.
inline constexpr std::uint32_t kVerdictBytes = 12;

// What every sentence has after its address however empty its fields: '*', the two checksum
// digits and CR.
inline constexpr std::uint8_t kTextAfterAddress = 4;

struct HeardTally {
    std::uint32_t bytes = 0;
    // Of the last kRecent bytes: printable ASCII, CR and LF, what sentences are made of; and of
    // those, the ones with an odd number of one bits. A port without parity that listens to a
    // sender with odd parity keeps only the characters whose parity bit reads as a stop bit,
    // which are those with an even number of ones. Only recent bytes count, as a port that starts
    // listening in the middle of a stream takes a while to find the characters' start bits.
    std::uint32_t recentText = 0;
    std::uint32_t recentOddText = 0;
    // Bytes with at least one inner run (a transition at both ends), and of those the ones whose
    // inner runs all fit each of kSlowerRatios.
    std::uint32_t withInnerRuns = 0;
    std::array<std::uint32_t, kSlowerRatios.size()> fitting{};
    // Bytes low in every data bit but the last: a port that starts on a sender's falling edge
    // hears nothing else of a sender eight times slower, as each of its bits spans the start
    // sample and seven data samples; of a sender four times slower, only where its first data
    // bit is low too.
    std::uint32_t lowToLastBit = 0;
    // Text bytes since the last field separator, or since listening began. At the sender's own
    // parity a sentence has one every few characters; a port at the other parity keeps none
    // (see addresses), bar one a UART now and then makes of broken characters.
    std::uint32_t textSinceComma = 0;
    // Messages the framer completed: TSIP packets and sentences whose checksum holds.
    std::uint32_t messages = 0;
    // Sentences the framer completed whose checksum fails.
    std::uint32_t badSentences = 0;
    // Bytes the framer left outside every message since the last message, or since listening
    // began. A receiver's reports come back to back, so none fall between them: after a
    // message, such a byte shows that what is heard is no burst of a receiver at this setting.
    std::uint32_t strayAfterMessage = 0;
    // DLE ETX after an odd run of DLEs: a TSIP report's end, seen whether or not the framer
    // had found the report's start.
    std::uint32_t reportEnds = 0;
    // Sentence address fields heard whole ("$GPGGA,") with the text after them. The field
    // separator has an odd number of ones, and a port at the other parity drops every such
    // character (see recentText; from a sender without parity it fails the check), so a whole
    // address is heard at the sender's own parity. A UART that restarts on a dropped
    // character's bits now and then makes a separator of them, but then reads on out of step
    // with the sender, which gives bytes of every kind: so the address counts only once the
    // bytes that every sentence has after it (see kTextAfterAddress) read as text. A faster
    // sender's talk sampled every other bit almost never forms one. Only those heard past the
    // residue of a change of settings count: a FIFO or an adapter may still hand on the old's.
    std::uint32_t addresses = 0;
    bool operator==(const HeardTally&) const = default;

    static constexpr std::uint32_t kRecent = 16;
};

// Whether the inner runs of byte, kept in a frame with that parity, or in a frame not known,
// all fit a sender ratio times slower; *inner is set when the byte has any.
bool innerRunsFit(std::uint8_t byte, std::optional<Parity> frame, std::uint32_t ratio,
                  bool* inner = nullptr);

// The reader's tally, kept by the reader alone: it adds each byte with the settings epoch it was
// read in, and starts afresh when the epoch moves on. A procedure reads a snapshot for the epoch
// it set; a tally of an older epoch reads as nothing heard yet.
class HeardCounters {
  public:
    // Whether the byte ends the text that follows a sentence address; the caller counts the
    // address with addAddress when it was heard at these settings. The byte was kept in a frame
    // with that parity, or in a frame not known: in the residue of a change of settings a FIFO
    // or an adapter may still hand on a byte that the old settings framed.
    bool add(std::uint8_t byte, std::uint32_t epoch, std::optional<Parity> frame);
    void addAddress(std::uint32_t epoch);
    void addMessage(std::uint32_t epoch);
    void addBadSentence(std::uint32_t epoch);
    // A byte that the framer kept in no message: one that breaks a frame or comes between them.
    void addStray(std::uint32_t epoch);
    HeardTally snapshot(std::uint32_t epoch) const;

  private:
    void moveTo(std::uint32_t epoch);

    mutable std::mutex mutex_;
    std::uint32_t epoch_ = 0;
    HeardTally tally_;
    // Two shift registers of the last kRecent bytes: text, odd-weight text.
    std::uint32_t recentTextBits_ = 0;
    std::uint32_t recentOddBits_ = 0;
    // Whether the bytes just before end in an odd run of DLEs.
    bool afterDle_ = false;
    NmeaAddressScanner address_;
    // Text bytes heard since an address ended, while all of them were text; kNoAddress outside.
    std::uint8_t textAfterAddress_ = kNoAddress;
    static constexpr std::uint8_t kNoAddress = 0xFF;
};

// Bytes heard without a frame that rule out a TSIP receiver talking at the port's setting. A port
// that joins its stream hears the rest of the report under way, whose end shows within the
// longest report, and then one whole report.
std::uint32_t unframedLimit(const HeardTally& tally);

// What a tally says, with nothing of line settings in it.
enum class Heard {
    Little,   // too little to tell
    Framed,   // a framed message: the sender is heard whole here
    Text,     // sentence text: the rate is right
    Slower,   // a sender slower than the port
    Faster,   // nothing a slower sender explains: faster than the port, or noise
    Foreign,  // whole sentences that do not check, framed or not: a device that is not the receiver
};

struct HeardVerdict {
    Heard heard = Heard::Little;
    // Slower: how many times slower, 0 when no inner run tells.
    std::uint32_t ratio = 0;
    // Text: the other parity is likelier (few characters of odd weight, or no sentence checked
    // out in a stream long enough for two).
    bool otherParity = false;
    bool operator==(const HeardVerdict&) const = default;
};

// Sentence text whose weights show the port's own parity, and no sentence that failed: a talker
// that may be asked in TSIP here before a whole sentence of it has been heard.
bool readsAsOwnText(const HeardTally& tally);

// A whole sentence address and no sentence that failed: a talker at this very setting, which may
// be asked in TSIP here at once.
bool showsOwnAddress(const HeardTally& tally);

// ended: the visit is over, when a few bytes are enough to go on. While it goes on, a ratio
// that the inner runs show is told as soon as a few bytes agree on it, so that the port can move
// to the sender's rate while its burst still runs.
HeardVerdict classify(const HeardTally& tally, bool ended);

}  // namespace kestrune
