// The virtual receiver's non-volatile memory: the save command, and the power cycle that brings
// the saved configuration back.
#include <array>

#include "sim/identity_answers.h"
#include "sim/tsip_messages.h"
#include "sim/virtual_receiver.h"

namespace kestrune {

namespace {

// A receiver that restarts to save is silent this long before its first report.
constexpr std::chrono::milliseconds kRestartTime{1500};
constexpr std::size_t kSaveCommandLength = 1;

}  // namespace

std::optional<ReceiverSettings> VirtualReceiver::savedSettings() const {
    const Lock lock(mutex_);
    return saved_;
}

void VirtualReceiver::powerCycle() {
    {
        const Lock lock(mutex_);
        const SimTime now = SimClock::now();
        serviceDue(now);
        resetAt_.reset();
        parser_.reset();
        transmitter_.clear();
        periodicPending_.clear();
        switchTo(saved_.value_or(ReceiverSettings{}), now);
        restartOutput(now + clock_.scaled(kRestartTime));
    }
    wake_.notify_all();
}

// The periodic output starts again once the receiver is up, if anyone listens.
void VirtualReceiver::restartOutput(SimTime up) {
    if (host_ != nullptr) {
        nextOutput_ = up;
    }
}

// 0x8E 26 saves; every other 0x8E subcode is a query the receiver does not know.
void VirtualReceiver::handleSave(const TsipPacket& packet, SimTime now) {
    if (packet.data.size() != kSaveCommandLength || packet.data[0] != kSimSubcodeSave ||
        behaviour_.saveAnswer == SaveAnswer::Refuse) {
        reject(packet, now);
        return;
    }
    saved_ = settings_;
    if (behaviour_.saveAnswer == SaveAnswer::Report) {
        const std::array<std::uint8_t, 1> subcode{kSimSubcodeSave};
        reply(tsipFrame(kSimIdSuperReport, subcode), now);
        return;
    }
    // A restart: what was queued is lost, and the first report comes once it is up.
    transmitter_.clear();
    periodicPending_.clear();
    const SimTime up = now + clock_.scaled(kRestartTime);
    restartOutput(up);
    reply(softwareVersionReport(behaviour_.identity), up);
}

}  // namespace kestrune
