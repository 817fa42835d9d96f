// The virtual receiver's own reading of TSIP: DLE id data... DLE ETX, where a doubled DLE inside
// a packet is one data byte. Bytes between packets are line noise and are ignored. A DLE inside
// a packet followed by anything but DLE or ETX breaks the packet: what was gathered is handed
// on as broken (the receiver reports it as unparsable) and the byte after the DLE begins the
// next packet as its ID. Data beyond kMaxData bytes is dropped and the packet counts as broken.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrune {

inline constexpr std::uint8_t kTsipDle = 0x10;
inline constexpr std::uint8_t kTsipEtx = 0x03;

struct TsipPacket {
    std::uint8_t id = 0;
    std::span<const std::uint8_t> data;  // valid until the next feed
    bool wellFramed = true;
};

class TsipParser {
  public:
    static constexpr std::size_t kMaxData = 256;

    // Consumes one byte; returns a packet when this byte ends one.
    std::optional<TsipPacket> feed(std::uint8_t byte);
    // Drops any partial packet, as a line break does.
    void reset();

  private:
    enum class State : std::uint8_t { Idle, AfterStartDle, InPacket, AfterDataDle };

    std::optional<TsipPacket> afterDataDle(std::uint8_t byte);
    void startPacket(std::uint8_t id);
    void append(std::uint8_t byte);
    TsipPacket packet(bool wellFramed) const;

    std::array<std::uint8_t, kMaxData> data_{};
    std::size_t length_ = 0;
    std::uint8_t id_ = 0;
    bool overflowed_ = false;
    // The previous feed returned a broken packet; its data view stays valid until the next feed,
    // which clears it for the packet already begun.
    bool restartPending_ = false;
    State state_ = State::Idle;
};

}  // namespace kestrune
