#include "protocol/tsip_codes.h"

#include <algorithm>
#include <array>

namespace kestrune {

namespace {

// Each value's code is its place in its table.
constexpr std::array<Parity, 3> kParities{Parity::None, Parity::Odd, Parity::Even};
constexpr std::array<StopBits, 2> kStopBits{StopBits::One, StopBits::Two};

// Rates the receiver's code table names below those it offers. The program never offers or
// probes them, yet a command or report carrying one still has its own code, both ways.
constexpr std::array<BaudRate, 2> kSlowRates{{{300, 2}, {600, 3}}};

// Every rate the code table names, slowest first.
constexpr auto kCodedRates = [] {
    std::array<BaudRate, kSlowRates.size() + kBaudRates.size()> all{};
    std::copy(kSlowRates.begin(), kSlowRates.end(), all.begin());
    std::copy(kBaudRates.begin(), kBaudRates.end(), all.begin() + kSlowRates.size());
    return all;
}();

template <typename Value, std::size_t N>
std::uint8_t codeIn(const std::array<Value, N>& table, Value value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i] == value) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return 0;
}

template <typename Value, std::size_t N>
std::optional<Value> valueIn(const std::array<Value, N>& table, std::uint8_t code) {
    return code < N ? std::optional<Value>(table[code]) : std::nullopt;
}

}  // namespace

std::uint8_t baudCode(std::uint32_t baud) {
    for (const BaudRate& rate : kCodedRates) {
        if (rate.baud == baud) {
            return rate.tsipCode;
        }
    }
    return findBaudRate(kFactoryBaud)->tsipCode;
}

std::uint8_t parityCode(Parity parity) {
    return codeIn(kParities, parity);
}

std::uint8_t stopBitsCode(StopBits stopBits) {
    return codeIn(kStopBits, stopBits);
}

std::uint8_t protocolCode(OutputProtocol output) {
    return output == OutputProtocol::Nmea ? kNmeaProtocolCode : kTsipProtocolCode;
}

std::optional<std::uint32_t> baudOfCode(std::uint8_t code) {
    for (const BaudRate& rate : kCodedRates) {
        if (rate.tsipCode == code) {
            return rate.baud;
        }
    }
    return std::nullopt;
}

std::optional<Parity> parityOfCode(std::uint8_t code) {
    return valueIn(kParities, code);
}

std::optional<StopBits> stopBitsOfCode(std::uint8_t code) {
    return valueIn(kStopBits, code);
}

std::optional<OutputProtocol> protocolOfCode(std::uint8_t code) {
    if (code == kTsipProtocolCode) {
        return OutputProtocol::Tsip;
    }
    if (code == kNmeaProtocolCode) {
        return OutputProtocol::Nmea;
    }
    return std::nullopt;
}

}  // namespace kestrune
