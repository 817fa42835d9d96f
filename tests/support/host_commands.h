// What a virtual receiver was told: the configuration commands among everything the host wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/virtual_receiver.h"

namespace kestrune::test {

// Port and sentence configurations, and the save command (10 8E). A query of the first two
// (10 BC 00 10 03, 10 7A 00 10 03) has a DLE right after its zero subcode; a configuration has a
// rate code or an interval there.
inline std::size_t configurationCommands(const VirtualReceiver& receiver) {
    constexpr std::uint8_t kDle = 0x10, kPortConfig = 0xBC, kNmeaConfig = 0x7A, kSave = 0x8E;
    std::vector<std::uint8_t> bytes;
    for (const HostWrite& write : receiver.hostWrites()) {
        bytes.insert(bytes.end(), write.bytes.begin(), write.bytes.end());
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
        const bool configuration = (bytes[i + 1] == kPortConfig || bytes[i + 1] == kNmeaConfig) &&
                                   bytes[i + 2] == 0 && bytes[i + 3] != kDle;
        count += bytes[i] == kDle && (configuration || bytes[i + 1] == kSave) ? 1 : 0;
    }
    return count;
}

}  // namespace kestrune::test
