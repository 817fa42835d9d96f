// The two ends of the virtual receiver's line: what the host gets of the receiver's output, and
// what the receiver gets of the host's writes, with the log of those writes.
#include <array>

#include "sim/uart_line.h"
#include "sim/virtual_receiver.h"

namespace kestrune {

// A port being closed first lets what was written leave, as closing a terminal waits for its
// output to drain. The host is gone then, so the receiver takes the rest in at once.
void VirtualReceiver::finishHostWrites() {
    while (const auto due = hostLine_.nextDue(&settings_.line)) {
        hostLine_.pump(*due, &settings_.line, deviceEnd_);
    }
}

bool VirtualReceiver::hears(const LineSettings& sender) const {
    return !breakOn_ && (behaviour_.uart.nativeUsb || (sender.baud == settings_.line.baud &&
                                                       sender.parity == settings_.line.parity));
}

void VirtualReceiver::startLogEntry(const LineSettings& sender, bool heard) {
    log_.push_back(HostWrite{{}, sender, heard});
    if (log_.size() > kMaxLoggedWrites) {
        log_.pop_front();
    }
}

// Through the host's handling of errors; a byte its input buffer has no room for is lost there.
void VirtualReceiver::HostEnd::received(const UartChar& got) {
    if (receiver.host_ == nullptr) {
        return;
    }
    std::array<std::uint8_t, 3> bytes{};
    const std::size_t count = hostInput(got, receiver.hostHandling_, bytes);
    const std::chrono::milliseconds latency = receiver.behaviour_.uart.latencyTimer;
    for (std::size_t i = 0; i < count; ++i) {
        if (latency.count() == 0) {
            receiver.host_->deliver(bytes[i]);
            continue;
        }
        if (receiver.blockCount_ == 0) {
            receiver.blockDue_ = got.at + receiver.clock_.scaled(latency);
        }
        receiver.block_[receiver.blockCount_++] = bytes[i];
        if (receiver.blockCount_ == receiver.block_.size()) {
            receiver.flushBlock();
        }
    }
}

// What a USB adapter has gathered goes to the host in one go.
void VirtualReceiver::flushBlock() {
    for (std::size_t i = 0; host_ != nullptr && i < blockCount_; ++i) {
        host_->deliver(block_[i]);
    }
    blockCount_ = 0;
    blockDue_.reset();
}

void VirtualReceiver::DeviceEnd::leaving(std::uint8_t byte, const LineSettings& sender,
                                         bool first) {
    const bool heard = receiver.hears(sender);
    if (first || receiver.log_.empty() || receiver.log_.back().heard != heard) {
        receiver.startLogEntry(sender, heard);
    }
    receiver.log_.back().bytes.push_back(byte);
}

// The receiver's UART driver discards characters with errors, and a held break, as noise.
void VirtualReceiver::DeviceEnd::received(const UartChar& got) {
    if (receiver.breakOn_ || got.parityError || got.framingError || got.lineBreak) {
        return;
    }
    if (const auto packet = receiver.parser_.feed(got.byte)) {
        receiver.handle(*packet, got.at);
    }
}

}  // namespace kestrune
