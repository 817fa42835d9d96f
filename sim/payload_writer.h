// Builds the data of a TSIP report field by field. Every field goes most significant byte first:
// integers as they are, reals as IEEE-754 singles or doubles.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/tsip_messages.h"

namespace kestrune {

class PayloadWriter {
  public:
    PayloadWriter& u8(std::uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    PayloadWriter& u16(std::uint16_t value) { return bigEndian(value, sizeof value); }
    PayloadWriter& u32(std::uint32_t value) { return bigEndian(value, sizeof value); }
    PayloadWriter& single(float value) {
        return bigEndian(std::bit_cast<std::uint32_t>(value), sizeof value);
    }
    PayloadWriter& real(double value) {
        return bigEndian(std::bit_cast<std::uint64_t>(value), sizeof value);
    }
    PayloadWriter& text(std::string_view value) {
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        return *this;
    }

    // The report, framed and DLE-stuffed.
    std::vector<std::uint8_t> frame(std::uint8_t id) const { return tsipFrame(id, bytes_); }

  private:
    static constexpr unsigned kBitsPerByte = 8;
    static constexpr std::uint64_t kByteMask = 0xFF;

    PayloadWriter& bigEndian(std::uint64_t value, std::size_t size) {
        for (std::size_t i = size; i-- > 0;) {
            bytes_.push_back(static_cast<std::uint8_t>((value >> (i * kBitsPerByte)) & kByteMask));
        }
        return *this;
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace kestrune
