#include "link/heard_tally.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "protocol/stream_framer.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint32_t kRecentMask = (1U << HeardTally::kRecent) - 1;

// Once a visit has ended, a few bytes are enough to go on (see kVerdictBytes).
constexpr std::uint32_t kFewBytes = 3;
// Recent bytes at least this much text: the rate is right. A port in step with a sender of text
// at its own rate hears nothing else (at the other parity, what it keeps is still whole), though
// one that starts in the middle of a stream takes a while to find the characters' start bits;
// this leaves room for one glitch in the window. A faster sender's text, sampled every other
// bit, still reads as text three times in four.
constexpr double kMostlyText = 0.9;
// Text characters weighed before their weights tell the parity. Sentence text at its own parity
// has about as many characters of odd weight as of even (digits, letters, commas); a port
// without parity keeps only the even ones of an odd-parity sender, and one with parity those of
// a sender without it whose stop bit reads as an odd parity bit. A UART that resynchronises on
// the dropped characters' bits adds some of any weight: fewer than one in four of odd weight is
// the other parity, halfway between what each side gives. While listening goes on the weights
// are weighed again at every byte, and a dozen characters of a sentence's tail at the port's own
// parity fall below one in four a few times in a hundred: there it takes fewer than one in
// eight, which a dozen fair characters give three times in a thousand, until a whole window of
// text has no separator, which no sentence's tail is long enough for (see kCommaFreeText).
constexpr std::uint32_t kWeighedText = 12;
constexpr std::uint32_t kFewOddOf = 4;
constexpr std::uint32_t kVeryFewOddOf = 8;
// Weights are only weighed in text without a field separator: a receiver without a fix fills
// its fields with zeros, of even weight, and its sentences at the port's own parity then have
// few characters of odd weight but the separators. Text longer than any stretch a sentence has
// between separators (its last field, '*', the checksum, CR LF and the next address, 16 at
// most in the standard sentences, or a position of twelve characters) shows the other parity
// without them; a long free-text field makes the port leave too early, and come back.
constexpr std::uint32_t kCommaFreeText = 24;
// The longest sentence, twice: one may be under way when listening starts.
constexpr std::uint32_t kSentenceBytes = 2 * kLongestSentence;
// A 2 % clock offset bends a run of L samples by one with a chance of L in 50; a character has at
// most nine samples in inner runs (eleven in its frame with parity, less the first run and the
// last), so at least 82 % of a slower sender's characters fit exactly. Of the random bytes with
// inner runs, one in eleven fits a ratio of two, one in 25 a ratio of four, none eight (counted
// over all 256, with and without parity).
constexpr double kNearlyAll = 0.8;
// Inner runs seen before the ratio they fit is trusted: with fewer, the sender is only known to
// be slower. While listening goes on a few more are asked for, as a ratio then moves the port
// away before the setting's own answer had its time: random bytes fit a ratio of two one time in
// eleven, so six that nearly all fit come from noise about once in twenty-five thousand tries.
// A receiver's reports at the port's own rate are no random bytes: their constant fields give
// runs of two in the data bits more often, and what rules those out is the run that the high
// stop bit, or the parity bit, ends (see innerRunsFit).
constexpr std::uint32_t kTellingBytes = 4;
constexpr std::uint32_t kTellingBytesEarly = 6;
// A run within one sample of a multiple of the ratio fits, for the clock offset; at a ratio of
// two that would fit every run, so there it must be exact.
constexpr std::uint32_t kExactBelowRatio = 4;
// A byte whose only low samples are the start bit's and the first seven data bits (see
// lowToLastBit), and the ratio that a verdict's worth of nothing else names. A sender four times
// slower keeps the characters whose second data bit is high, and half of those have a high first
// data bit too, which ends the low run at four: a dozen kept characters without one come from it
// about once in four thousand.
constexpr std::uint8_t kLowToLastBit = 0x80;
constexpr std::uint32_t kLowToLastBitRatio = 8;

bool isSentenceText(std::uint8_t byte) {
    return isPrintableAscii(byte) || byte == kCarriageReturn || byte == kLineFeed;
}

bool runFits(std::uint32_t run, bool high, std::uint32_t ratio) {
    const std::uint32_t slack = ratio < kExactBelowRatio ? 0 : 1;
    if (high) {
        return run + slack >= ratio;
    }
    const std::uint32_t whole = (run + ratio / 2) / ratio;
    const std::uint32_t nearest = std::max<std::uint32_t>(whole, 1) * ratio;
    return (run > nearest ? run - nearest : nearest - run) <= slack;
}

bool nearlyAll(std::uint32_t count, std::uint32_t of) {
    return count >= kNearlyAll * of;
}

// Enough weighed, and fewer than one in shareOf of odd weight: the other parity.
bool fewOfOddWeight(std::uint32_t odd, std::uint32_t weighed, std::uint32_t shareOf) {
    return weighed >= kWeighedText && odd * shareOf < weighed;
}

// The recent text shows the other parity: few of odd weight and no separator among them, or no
// separator for longer than a sentence goes without one. While listening goes on, fewer than one
// in eight are few, until a whole window has no separator (see kVeryFewOddOf).
bool otherParityText(const HeardTally& tally, bool ended) {
    const bool wholeWindow = tally.recentText >= HeardTally::kRecent;
    const std::uint32_t shareOf = ended || wholeWindow ? kFewOddOf : kVeryFewOddOf;
    const bool noRecentSeparator = tally.textSinceComma >= tally.recentText;
    return (noRecentSeparator && fewOfOddWeight(tally.recentOddText, tally.recentText, shareOf)) ||
           tally.textSinceComma >= kCommaFreeText;
}

}  // namespace

// The samples are the start bit (low), the data bits, least significant first, and, where the
// frame is known, the parity bit where the port has one and the stop bit: a kept character passed
// its parity check and had a high stop sample. The first run holds the start bit, and the last is
// cut by the end of the frame, or by the last data bit where the frame is not known; the runs
// between are inner. A run that the frame's end turns inner is one more that must fit, so a
// byte that fits in its whole frame fits without its end too.
bool innerRunsFit(std::uint8_t byte, std::optional<Parity> frame, std::uint32_t ratio,
                  bool* inner) {
    const LineSettings line{0, frame.value_or(Parity::None), StopBits::One};
    const std::uint16_t levels = characterLevels(byte, line);
    const std::uint32_t lastIndex = frame ? bitsPerByte(line) - 1 : kLineDataBits;
    const auto sample = [levels](std::uint32_t index) { return ((levels >> index) & 1U) != 0; };
    bool fits = true;
    bool any = false;
    std::uint32_t runStart = 0;
    bool first = true;
    for (std::uint32_t index = 1; index <= lastIndex; ++index) {
        if (sample(index) == sample(index - 1)) {
            continue;
        }
        if (!first) {
            any = true;
            fits = fits && runFits(index - runStart, sample(runStart), ratio);
        }
        first = false;
        runStart = index;
    }
    if (inner != nullptr) {
        *inner = any;
    }
    return fits;
}

void HeardCounters::moveTo(std::uint32_t epoch) {
    if (epoch != epoch_) {
        epoch_ = epoch;
        tally_ = HeardTally{};
        recentTextBits_ = 0;
        recentOddBits_ = 0;
        afterDle_ = false;
        address_ = NmeaAddressScanner{};
        textAfterAddress_ = kNoAddress;
    }
}

bool HeardCounters::add(std::uint8_t byte, std::uint32_t epoch, std::optional<Parity> frame) {
    const std::lock_guard lock(mutex_);
    moveTo(epoch);
    ++tally_.bytes;
    if (afterDle_ && byte == kEtx) {
        ++tally_.reportEnds;
    }
    afterDle_ = byte == kDle && !afterDle_;
    const bool text = isSentenceText(byte);
    bool addressWhole = false;
    if (textAfterAddress_ != kNoAddress) {
        textAfterAddress_ = text ? static_cast<std::uint8_t>(textAfterAddress_ + 1) : kNoAddress;
        if (textAfterAddress_ == kTextAfterAddress) {
            addressWhole = true;
            textAfterAddress_ = kNoAddress;
        }
    }
    if (address_.add(byte)) {
        textAfterAddress_ = 0;
    }
    const bool odd = text && (std::popcount(byte) & 1) != 0;
    if (text) {
        tally_.textSinceComma = byte == kFieldSeparator ? 0 : tally_.textSinceComma + 1;
    }
    recentTextBits_ = ((recentTextBits_ << 1) | (text ? 1U : 0U)) & kRecentMask;
    recentOddBits_ = ((recentOddBits_ << 1) | (odd ? 1U : 0U)) & kRecentMask;
    bool inner = false;
    for (std::size_t i = 0; i < kSlowerRatios.size(); ++i) {
        if (innerRunsFit(byte, frame, kSlowerRatios[i], &inner) && inner) {
            ++tally_.fitting[i];
        }
    }
    tally_.withInnerRuns += inner ? 1 : 0;
    tally_.lowToLastBit += byte == kLowToLastBit ? 1 : 0;
    return addressWhole;
}

void HeardCounters::addMessage(std::uint32_t epoch) {
    const std::lock_guard lock(mutex_);
    moveTo(epoch);
    ++tally_.messages;
    tally_.strayAfterMessage = 0;
}

void HeardCounters::addAddress(std::uint32_t epoch) {
    const std::lock_guard lock(mutex_);
    moveTo(epoch);
    ++tally_.addresses;
}

void HeardCounters::addBadSentence(std::uint32_t epoch) {
    const std::lock_guard lock(mutex_);
    moveTo(epoch);
    ++tally_.badSentences;
}

void HeardCounters::addStray(std::uint32_t epoch) {
    const std::lock_guard lock(mutex_);
    moveTo(epoch);
    ++tally_.strayAfterMessage;
}

HeardTally HeardCounters::snapshot(std::uint32_t epoch) const {
    const std::lock_guard lock(mutex_);
    if (epoch != epoch_) {
        return HeardTally{};
    }
    HeardTally tally = tally_;
    tally.recentText = static_cast<std::uint32_t>(std::popcount(recentTextBits_));
    tally.recentOddText = static_cast<std::uint32_t>(std::popcount(recentOddBits_));
    return tally;
}

namespace {

// The ratio that nearly all bytes with inner runs fit; 0 when none does. Runs that fit four fit
// two as well, bar a run bent by the clocks, while a sender two times slower gives runs of two
// and six that do not fit four: a larger ratio is taken only where it fits as many bytes.
std::uint32_t fittingRatio(const HeardTally& tally) {
    std::uint32_t ratio = 0;
    std::uint32_t fitted = 0;
    for (std::size_t i = 0; i < kSlowerRatios.size(); ++i) {
        if (nearlyAll(tally.fitting[i], tally.withInnerRuns) && tally.fitting[i] >= fitted) {
            ratio = kSlowerRatios[i];
            fitted = tally.fitting[i];
        }
    }
    return ratio;
}

// The ratio that bytes nearly all without inner runs show; 0 where none shows. Runs that fit the
// least ratio but not the next (two or six samples, which fit two but not four) come from no
// slower sender but one at the least ratio: the runs of a sender four or more times slower last
// four or eight samples, bent by one at most (see runFits), so one such byte names the least
// ratio. A verdict's worth of bytes low to the last data bit and nothing else names eight (see
// kLowToLastBit).
std::uint32_t plainBytesRatio(const HeardTally& tally) {
    const bool allFitLeast = tally.fitting[0] == tally.withInnerRuns;
    const bool someMissNext = tally.fitting[1] < tally.withInnerRuns;
    if (allFitLeast && someMissNext) {
        return kSlowerRatios.front();
    }
    const bool allLowToLastBit = tally.bytes >= kVerdictBytes && tally.lowToLastBit == tally.bytes;
    return allLowToLastBit ? kLowToLastBitRatio : 0;
}

}  // namespace

std::uint32_t unframedLimit(const HeardTally& tally) {
    return tally.reportEnds == 0 ? kLongestReportBytes : 2 * kLongestReportBytes;
}

// A whole window of recent bytes, mostly text, weighed as at a visit's end: the other parity
// leaves fewer than one in four of odd weight (see kFewOddOf) and no separator.
bool readsAsOwnText(const HeardTally& tally) {
    return tally.messages == 0 && tally.badSentences == 0 && tally.bytes >= HeardTally::kRecent &&
           tally.recentText >= kMostlyText * HeardTally::kRecent && !otherParityText(tally, true);
}

bool showsOwnAddress(const HeardTally& tally) {
    return tally.messages == 0 && tally.badSentences == 0 && tally.addresses > 0;
}

HeardVerdict classify(const HeardTally& tally, bool ended) {
    if (tally.messages > 0) {
        return {tally.badSentences > 0 ? Heard::Foreign : Heard::Framed};
    }
    const auto tooFew = [&](std::uint32_t enough) {
        return tally.bytes < (ended ? kFewBytes : enough);
    };
    const std::uint32_t recent = std::min(tally.bytes, HeardTally::kRecent);
    const bool mostlyText = tally.recentText >= kMostlyText * recent;
    if (!ended && !mostlyText && tally.withInnerRuns >= kTellingBytesEarly) {
        if (const std::uint32_t ratio = fittingRatio(tally)) {
            return {Heard::Slower, ratio};
        }
    }
    if (tooFew(kVerdictBytes)) {
        return {};
    }
    if (mostlyText) {
        const bool otherParity = otherParityText(tally, ended);
        if (tally.badSentences > 0 && !otherParity) {
            return {Heard::Foreign};
        }
        return {Heard::Text, 0, otherParity || tally.bytes >= kSentenceBytes};
    }
    // Bytes without inner runs fit every ratio, the same rate's too, and tell nothing; nearly all
    // of them and nothing else is what a sender four or more times slower gives, and a sender two
    // times slower whose kept characters are mostly separators and points. The few with inner
    // runs then tell the two apart.
    if (tally.withInnerRuns < kTellingBytes) {
        const bool plain = nearlyAll(tally.bytes - tally.withInnerRuns, tally.bytes);
        return plain ? HeardVerdict{Heard::Slower, plainBytesRatio(tally)} : HeardVerdict{};
    }
    if (const std::uint32_t ratio = fittingRatio(tally)) {
        return {Heard::Slower, ratio};
    }
    if (tooFew(unframedLimit(tally))) {
        return {};
    }
    return {Heard::Faster};
}

}  // namespace kestrune
