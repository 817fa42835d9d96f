// The details in which real serial hardware differs, and the named choices of them that the
// virtual receiver's line can model. A search that is to work with whatever hardware a user has
// must not depend on any one of them.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string_view>

namespace kestrune {

// What the receiving UART does after a framing error that is not a break.
enum class FramingResync {
    NextFallingEdge,  // waits, from the stop-bit sample on, for the line to fall
    LowStopSample,    // takes the low stop-bit sample as the next start bit, already checked
};

// The details in which real serial hardware differs. The line itself uses resync and the clock
// offset; the receiver's host end uses the rest.
struct UartModel {
    FramingResync resync = FramingResync::NextFallingEdge;
    // How much faster the sender's bit clock runs than its nominal rate (0.02: 2 % fast). Applied
    // as a whole number of bits per second, which every offered rate gives exactly at 1 and 2 %.
    double senderClockOffset = 0.0;
    // A USB adapter gathers what its UART receives and hands it to the host in blocks, at most
    // this long after a block's first byte (zero: each byte as it is complete).
    std::chrono::milliseconds latencyTimer{0};
    // A native USB port: no UART between the receiver and the host, so the rate and parity the
    // host sets change nothing, and both ends get every byte whole.
    bool nativeUsb = false;
    bool operator==(const UartModel&) const = default;
};

struct UartChoice {
    std::string_view name;
    UartModel model;
    std::string_view models;  // what it stands for, for the help and the manual
};

// A USB adapter's default latency timer.
inline constexpr std::chrono::milliseconds kAdapterLatency{16};
// The sender's clock off by the most a UART tolerates with margin.
inline constexpr double kClockOffset = 0.02;

inline constexpr std::array<UartChoice, 6> kUartChoices{{
    {"edge", {}, "waits for the next falling edge after a framing error"},
    {"16550",
     {.resync = FramingResync::LowStopSample},
     "takes a low stop-bit sample as the next start bit"},
    {"16550-fast",
     {.resync = FramingResync::LowStopSample, .senderClockOffset = kClockOffset},
     "16550, the sender's clock 2 % fast"},
    {"16550-slow",
     {.resync = FramingResync::LowStopSample, .senderClockOffset = -kClockOffset},
     "16550, the sender's clock 2 % slow"},
    {"usb-serial",
     {.resync = FramingResync::LowStopSample, .latencyTimer = kAdapterLatency},
     "16550 behind a USB adapter that hands bytes over every 16 ms"},
    {"cdc-acm", {.nativeUsb = true}, "native USB port: the host's rate and parity change nothing"},
}};

inline std::optional<UartModel> findUartChoice(std::string_view name) {
    for (const UartChoice& choice : kUartChoices) {
        if (choice.name == name) {
            return choice.model;
        }
    }
    return std::nullopt;
}

}  // namespace kestrune
