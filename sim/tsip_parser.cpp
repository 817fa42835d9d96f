#include "sim/tsip_parser.h"

namespace kestrune {

namespace {

// After a DLE between packets these bytes start nothing: 10 03 is the tail of a packet whose
// head was lost, and 10 00 is not a packet ID.
constexpr std::uint8_t kNotAnId = 0x00;

}  // namespace

std::optional<TsipPacket> TsipParser::feed(std::uint8_t byte) {
    if (restartPending_) {
        startPacket(id_);
    }
    switch (state_) {
        case State::Idle:
            if (byte == kTsipDle) {
                state_ = State::AfterStartDle;
            }
            return std::nullopt;
        case State::AfterStartDle:
            if (byte == kTsipEtx || byte == kNotAnId) {
                state_ = State::Idle;
            } else if (byte != kTsipDle) {
                startPacket(byte);
            }
            return std::nullopt;
        case State::InPacket:
            if (byte == kTsipDle) {
                state_ = State::AfterDataDle;
            } else {
                append(byte);
            }
            return std::nullopt;
        case State::AfterDataDle:
            return afterDataDle(byte);
    }
    return std::nullopt;
}

void TsipParser::reset() {
    state_ = State::Idle;
    length_ = 0;
    overflowed_ = false;
    restartPending_ = false;
}

// 10 BC 00 10 03 ends a packet; 10 7A 10 10 ... holds one data byte 0x10; 10 BC 00 10 55 ...
// breaks the 0xBC packet and starts one with ID 0x55.
std::optional<TsipPacket> TsipParser::afterDataDle(std::uint8_t byte) {
    if (byte == kTsipEtx) {
        state_ = State::Idle;
        return packet(!overflowed_);
    }
    if (byte == kTsipDle) {
        append(byte);
        state_ = State::InPacket;
        return std::nullopt;
    }
    const TsipPacket broken = packet(false);
    id_ = byte;
    restartPending_ = true;
    state_ = State::InPacket;
    return broken;
}

void TsipParser::startPacket(std::uint8_t id) {
    id_ = id;
    length_ = 0;
    overflowed_ = false;
    restartPending_ = false;
    state_ = State::InPacket;
}

void TsipParser::append(std::uint8_t byte) {
    if (length_ == data_.size()) {
        overflowed_ = true;
        return;
    }
    data_[length_++] = byte;
}

TsipPacket TsipParser::packet(bool wellFramed) const {
    return TsipPacket{id_, std::span<const std::uint8_t>(data_.data(), length_), wellFramed};
}

}  // namespace kestrune
