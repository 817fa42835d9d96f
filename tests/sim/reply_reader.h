// Test-local talking to a virtual receiver: framing of what the tests send, and the program's own
// framer for what it sends back, which so also checks the receiver's encoder against the reader.
#pragma once

#include <bit>
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "protocol/nmea_sentence.h"
#include "protocol/stream_framer.h"

namespace kestrune::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr double kFactor = 0.05;
// Waits for what must arrive; long enough for a loaded machine, never reached when all is well.
inline constexpr std::chrono::milliseconds kGenerous{5000};
inline constexpr std::chrono::milliseconds kShortCeiling{10};

// What the receiver sends on its own in TSIP mode: time, position, velocity, fix mode, signal
// levels, health.
inline const std::set<std::uint8_t> kPeriodicIds{0x41, 0x4A, 0x56, 0x6D, 0x47, 0x46};

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

// A big-endian field of a report's data.
inline std::uint16_t u16At(const Bytes& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data.at(offset) << 8 | data.at(offset + 1));
}
inline float singleAt(const Bytes& data, std::size_t offset) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits = bits << 8 | data.at(offset + i);
    }
    return std::bit_cast<float>(bits);
}

struct Frame {
    std::uint8_t id = 0;
    Bytes data;
    bool operator==(const Frame&) const = default;
};

// Reads one byte within a short ceiling; false when none came.
using ByteSource = std::function<bool(std::uint8_t&)>;

inline ByteSource bytesOf(SerialPort& port) {
    return [&port](std::uint8_t& byte) { return port.readByte(byte) == ReadResult::Byte; };
}

// The frames that arrive, but for the periodic reports unless they are kept, up to and including
// the first with id; if none with id comes within the generous wait, what came until then.
inline std::vector<Frame> framesUntil(const ByteSource& read, std::uint8_t id,
                                      bool keepPeriodic = false) {
    std::vector<Frame> frames;
    StreamFramer framer;
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        const auto message = read(byte) ? framer.feed(byte) : std::nullopt;
        if (message && (*message)[0] != kSentenceStart &&
            (keepPeriodic || !kPeriodicIds.contains((*message)[0]))) {
            frames.push_back(Frame{(*message)[0], Bytes(message->begin() + 1, message->end())});
            if (frames.back().id == id) {
                break;
            }
        }
    }
    return frames;
}

inline std::vector<Frame> framesUntil(SerialPort& port, std::uint8_t id,
                                      bool keepPeriodic = false) {
    return framesUntil(bytesOf(port), id, keepPeriodic);
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

// The kinds ("$GPGGA," ...) of the whole sentences in a byte stream; a sentence whose checksum
// is wrong is its own kind, so that it shows in a comparison.
inline std::set<std::string> sentenceKinds(const Bytes& bytes) {
    constexpr std::size_t kKindLength = 7;
    std::set<std::string> kinds;
    StreamFramer framer;
    for (const std::uint8_t byte : bytes) {
        const auto message = framer.feed(byte);
        if (message && (*message)[0] == kSentenceStart) {
            const std::string sentence(message->begin(), message->end());
            kinds.insert(nmeaChecksumHolds(*message) ? sentence.substr(0, kKindLength)
                                                     : "bad: " + sentence);
        }
    }
    return kinds;
}

}  // namespace kestrune::test
