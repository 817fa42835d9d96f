// Test-local reading of what a virtual receiver sends: a deliberately plain TSIP frame decoder
// and sentence splitter, independent of both the program's framer and the receiver's parser.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "link/platform_services.h"

namespace kestrune::test {

inline constexpr double kFactor = 0.05;
// Waits for what must arrive; long enough for a loaded machine, never reached when all is well.
inline constexpr std::chrono::milliseconds kGenerous{5000};
inline constexpr std::chrono::milliseconds kShortCeiling{10};

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kSignalLevelsId = 0x47;

struct Frame {
    std::uint8_t id = 0;
    std::vector<std::uint8_t> data;
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

// Reads frames from the port, skipping the periodic signal-level reports, until one with id
// arrives; every frame skipped on the way (other than signal levels) is kept in `before`.
inline std::optional<Frame> waitForFrame(SerialPort& port, std::uint8_t id,
                                         std::vector<Frame>* before = nullptr) {
    FrameDecoder decoder;
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        if (port.readByte(byte) != ReadResult::Byte) {
            continue;
        }
        const auto frame = decoder.feed(byte);
        if (!frame || frame->id == kSignalLevelsId) {
            continue;
        }
        if (frame->id == id) {
            return frame;
        }
        if (before != nullptr) {
            before->push_back(*frame);
        }
    }
    return std::nullopt;
}

// Reads until count bytes have arrived or the generous wait is over.
inline std::vector<std::uint8_t> readBytes(SerialPort& port, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        if (port.readByte(byte) == ReadResult::Byte) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

// True if nothing at all arrives during `reads` read ceilings.
inline bool nothingArrives(SerialPort& port, int reads) {
    for (int i = 0; i < reads; ++i) {
        std::uint8_t byte = 0;
        if (port.readByte(byte) != ReadResult::Nothing) {
            return false;
        }
    }
    return true;
}

// Whole sentences ("$...*hh", without CR LF) in a byte stream; bytes before the first '$' and
// an unfinished tail are left out.
inline std::vector<std::string> splitSentences(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::string> sentences;
    std::string current;
    bool started = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '$') {
            started = true;
            current = "$";
        } else if (started && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            sentences.push_back(current);
            started = false;
            ++i;
        } else if (started) {
            current += c;
        }
    }
    return sentences;
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

}  // namespace kestrune::test
