#include "sim/simulated_port.h"

#include "sim/virtual_receiver.h"

namespace kestrune {

std::unique_ptr<SimulatedPort> SimulatedPort::open(VirtualReceiver& receiver) {
    std::unique_ptr<SimulatedPort> port(new SimulatedPort(receiver));
    port->attached_ = receiver.attach(*port, port->settings_, kPortInputHandling);
    if (!port->attached_) {
        return nullptr;
    }
    return port;
}

SimulatedPort::SimulatedPort(VirtualReceiver& receiver) : receiver_(receiver) {}

SimulatedPort::~SimulatedPort() {
    if (attached_) {
        receiver_.detach(*this);
    }
}

bool SimulatedPort::write(std::span<const std::uint8_t> bytes) {
    receiver_.hostWrite(bytes);
    return true;
}

ReadResult SimulatedPort::readByte(std::uint8_t& byte) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, ceiling_, [this] { return count_ > 0 || stopped_; }) || stopped_) {
        return ReadResult::Nothing;
    }
    byte = input_[head_];
    head_ = (head_ + 1) % input_.size();
    --count_;
    ++handedOut_;
    return ReadResult::Byte;
}

std::uint64_t SimulatedPort::inputMark() {
    const std::lock_guard lock(mutex_);
    return handedOut_ + count_;
}

bool SimulatedPort::setReadCeiling(std::chrono::milliseconds ceiling) {
    const std::lock_guard lock(mutex_);
    ceiling_ = ceiling;
    return true;
}

bool SimulatedPort::getLineSettings(LineSettings& settings) {
    const std::lock_guard lock(mutex_);
    settings = settings_;
    return true;
}

bool SimulatedPort::setLineSettings(const LineSettings& settings) {
    if (!findBaudRate(settings.baud)) {
        return false;
    }
    {
        const std::lock_guard lock(mutex_);
        settings_ = settings;
    }
    // Outside the port's lock: the receiver calls deliver with its own lock held.
    receiver_.setHostLineSettings(settings);
    return true;
}

bool SimulatedPort::setBreak(bool on) {
    receiver_.setHostBreak(on);
    return true;
}

void SimulatedPort::stopReading() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    arrived_.notify_all();
}

void SimulatedPort::deliver(std::uint8_t byte) {
    {
        const std::lock_guard lock(mutex_);
        if (count_ == input_.size()) {
            return;
        }
        input_[(head_ + count_) % input_.size()] = byte;
        ++count_;
    }
    arrived_.notify_one();
}

}  // namespace kestrune
