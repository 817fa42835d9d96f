#include "protocol/stream_framer.h"

namespace kestrune {

namespace {
constexpr std::uint8_t kNotAPacket = 0x00;
}  // namespace

std::optional<std::span<const std::uint8_t>> StreamFramer::feedByState(std::uint8_t byte) {
    switch (state_) {
        case FramerState::Idle:
            fromIdle(byte);
            break;
        case FramerState::AfterStartDle:
            afterStartDle(byte);
            break;
        case FramerState::InPacket:
            inPacket(byte);
            break;
        case FramerState::AfterDataDle:
            return afterDataDle(byte);
        case FramerState::InSentence:
            inSentence(byte);
            break;
        case FramerState::AfterCr:
            return afterCr(byte);
    }
    return std::nullopt;
}

void StreamFramer::start(std::uint8_t byte, FramerState next) {
    buffer_[0] = byte;
    length_ = 1;
    state_ = next;
}

void StreamFramer::append(std::uint8_t byte, FramerState next) {
    buffer_[length_++] = byte;
    state_ = length_ > kMaxMessage ? FramerState::Idle : next;
}

std::span<const std::uint8_t> StreamFramer::complete() {
    state_ = FramerState::Idle;
    return {buffer_.data(), length_};
}

void StreamFramer::fromIdle(std::uint8_t byte) {
    if (byte == kDle) {
        state_ = FramerState::AfterStartDle;
    } else if (byte == kSentenceStart) {
        start(byte, FramerState::InSentence);
    }
}

// Between messages, DLE 00 and DLE ETX open nothing (the tail of a packet we joined late);
// DLE DLE keeps us waiting for the ID.
void StreamFramer::afterStartDle(std::uint8_t byte) {
    if (byte == kNotAPacket || byte == kEtx) {
        state_ = FramerState::Idle;
    } else if (byte != kDle) {
        start(byte, FramerState::InPacket);
    }
}

void StreamFramer::inPacket(std::uint8_t byte) {
    if (byte == kDle) {
        state_ = FramerState::AfterDataDle;
    } else {
        append(byte, FramerState::InPacket);
    }
}

// A doubled DLE inside a packet is one data byte; DLE ETX ends it; DLE followed by anything else
// means we lost bytes, so that byte opens a new packet as its ID.
std::optional<std::span<const std::uint8_t>> StreamFramer::afterDataDle(std::uint8_t byte) {
    if (byte == kEtx) {
        return complete();
    }
    if (byte == kDle) {
        append(kDle, FramerState::InPacket);
    } else {
        start(byte, FramerState::InPacket);
    }
    return std::nullopt;
}

// A DLE that breaks off a sentence may open a packet: a receiver switched to TSIP can cut the
// sentence under way, and its first packet, often the answer to a question, follows at once.
void StreamFramer::breakOffSentence(std::uint8_t byte) {
    state_ = byte == kDle ? FramerState::AfterStartDle : FramerState::Idle;
}

// Sentence text is any byte from 0x20 up; any other control byte than CR breaks it off.
void StreamFramer::inSentence(std::uint8_t byte) {
    if (byte == kCr) {
        state_ = FramerState::AfterCr;
    } else if (byte >= framer_detail::kFirstTextByte) {
        append(byte, FramerState::InSentence);
    } else {
        breakOffSentence(byte);
    }
}

std::optional<std::span<const std::uint8_t>> StreamFramer::afterCr(std::uint8_t byte) {
    if (byte == kLf) {
        return complete();
    }
    breakOffSentence(byte);
    return std::nullopt;
}

}  // namespace kestrune
