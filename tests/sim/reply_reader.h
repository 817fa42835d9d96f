// Test-local talking to a virtual receiver: framing of what the tests send, and a deliberately
// plain TSIP frame decoder and sentence splitter for what it sends back, independent of both the
// program's framer and the receiver's parser.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/platform_services.h"

namespace kestrune::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr double kFactor = 0.05;
// Waits for what must arrive; long enough for a loaded machine, never reached when all is well.
inline constexpr std::chrono::milliseconds kGenerous{5000};
inline constexpr std::chrono::milliseconds kShortCeiling{10};

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kSignalLevelsId = 0x47;

// 10 BC 00 10 03: port configuration query
inline const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};
// 10 7A 00 10 03: NMEA settings query
inline const Bytes kNmeaQuery{0x10, 0x7A, 0x00, 0x10, 0x03};

// A packet of id and data, framed by DLE ... DLE ETX with every DLE inside doubled.
inline Bytes frame(const Bytes& packet) {
    Bytes framed{kDle};
    for (const std::uint8_t byte : packet) {
        framed.push_back(byte);
        if (byte == kDle) {
            framed.push_back(kDle);
        }
    }
    framed.insert(framed.end(), {kDle, kEtx});
    return framed;
}

struct Frame {
    std::uint8_t id = 0;
    Bytes data;
    bool operator==(const Frame&) const = default;
};

// Feeds bytes one at a time; a complete frame comes out when its DLE ETX arrives.
class FrameDecoder {
  public:
    std::optional<Frame> feed(std::uint8_t byte) {
        if (!inFrame_) {
            if (afterDle_ && byte != kDle && byte != kEtx && byte != 0) {
                current_ = Frame{byte, {}};
                inFrame_ = true;
            }
            afterDle_ = byte == kDle;
            return std::nullopt;
        }
        if (afterDle_) {
            afterDle_ = false;
            if (byte == kEtx) {
                inFrame_ = false;
                return current_;
            }
            if (byte != kDle) {  // broken frame: start again from this byte as an ID
                current_ = Frame{byte, {}};
                return std::nullopt;
            }
        } else if (byte == kDle) {
            afterDle_ = true;
            return std::nullopt;
        }
        current_.data.push_back(byte);
        return std::nullopt;
    }

  private:
    Frame current_;
    bool inFrame_ = false;
    bool afterDle_ = false;
};

// Reads one byte within a short ceiling; false when none came.
using ByteSource = std::function<bool(std::uint8_t&)>;

inline ByteSource bytesOf(SerialPort& port) {
    return [&port](std::uint8_t& byte) { return port.readByte(byte) == ReadResult::Byte; };
}

// The frames that arrive, but for the periodic signal-level reports, up to and including the
// first with id; if none with id comes within the generous wait, what came until then.
inline std::vector<Frame> framesUntil(const ByteSource& read, std::uint8_t id) {
    std::vector<Frame> frames;
    FrameDecoder decoder;
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        const auto frame = read(byte) ? decoder.feed(byte) : std::nullopt;
        if (frame && frame->id != kSignalLevelsId) {
            frames.push_back(*frame);
            if (frame->id == id) {
                break;
            }
        }
    }
    return frames;
}

inline std::vector<Frame> framesUntil(SerialPort& port, std::uint8_t id) {
    return framesUntil(bytesOf(port), id);
}

// Reads until count bytes have arrived or the wait is over.
inline Bytes readBytes(SerialPort& port, std::size_t count,
                       std::chrono::milliseconds wait = kGenerous) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        if (port.readByte(byte) == ReadResult::Byte) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

// True if the sentence ends in "*hh" with hh the XOR of everything between '$' and '*'.
inline bool checksumValid(const std::string& sentence) {
    const auto star = sentence.rfind('*');
    if (sentence.empty() || sentence[0] != '$' || star == std::string::npos ||
        star + 3 != sentence.size()) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    return std::strtoul(sentence.substr(star + 1).c_str(), nullptr, 16) == sum;
}

// The kinds ("$GPGGA," ...) of the whole sentences, '$' to CR LF, in a byte stream; a sentence
// whose checksum is wrong is its own kind, so that it shows in a comparison.
inline std::set<std::string> sentenceKinds(const Bytes& bytes) {
    std::set<std::string> kinds;
    std::string sentence;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '$') {
            sentence = "$";
        } else if (!sentence.empty() && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            kinds.insert(checksumValid(sentence) ? sentence.substr(0, 7) : "bad: " + sentence);
            sentence.clear();
            ++i;
        } else if (!sentence.empty()) {
            sentence += c;
        }
    }
    return kinds;
}

}  // namespace kestrune::test
