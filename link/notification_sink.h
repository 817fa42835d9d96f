// Where the reader thread's notifications go: the window, or whatever stands in for it.
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr std::uint32_t kNotifyNmeaMask = 0x8000;
inline constexpr std::uint32_t kNotifySignalLevel = 0x8001;

// post must be safe from any thread and return at once.
class NotificationSink {
  public:
    virtual ~NotificationSink() = default;
    virtual void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) = 0;
};

}  // namespace kestrune
