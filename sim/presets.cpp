#include "sim/presets.h"

#include "link/port_names.h"
#include "sim/simulated_port.h"

namespace kestrune {

namespace {

enum PresetNumber : int {
    kFactoryPreset = 1,
    kNmeaPreset = 2,
    kFastOddPreset = 3,
    kSilentPreset = 4,
    kRejectingPreset = 5,
    kNamelessPreset = 6,
};

constexpr std::uint32_t kNmeaPresetBaud = 4800;
constexpr std::uint32_t kFastOddPresetBaud = 38400;

}  // namespace

SimulatedDevices::SimulatedDevices(double clockFactor) {
    for (int number = 1; number <= kPresetCount; ++number) {
        const Preset start = preset(number);
        receivers_[number - 1] =
            std::make_unique<VirtualReceiver>(start.settings, start.behaviour, clockFactor);
    }
}

OpenResult SimulatedDevices::open(std::string_view name) {
    VirtualReceiver* device = receiver(presetNumber(name));
    if (device == nullptr) {
        return OpenResult{nullptr, OpenError::NoSuchDevice};
    }
    std::unique_ptr<SerialPort> port = SimulatedPort::open(*device);
    const OpenError error = port == nullptr ? OpenError::Busy : OpenError::None;
    return OpenResult{std::move(port), error};
}

PortOpener SimulatedDevices::routePortNames(PortOpener devicesElsewhere) {
    return [this, elsewhere = std::move(devicesElsewhere)](std::string_view name) {
        if (isSimulatedName(name)) {
            return open(name);
        }
        return elsewhere ? elsewhere(name) : OpenResult{nullptr, OpenError::NoSuchDevice};
    };
}

VirtualReceiver* SimulatedDevices::receiver(int number) {
    if (number < 1 || number > kPresetCount) {
        return nullptr;
    }
    return receivers_[number - 1].get();
}

bool SimulatedDevices::isSimulatedName(std::string_view name) {
    const std::optional<PortName> parsed = parsePortName(name);
    return parsed && parsed->kind == PortKind::Virtual;
}

int SimulatedDevices::presetNumber(std::string_view name) {
    const std::optional<PortName> parsed = parsePortName(name);
    if (!parsed || parsed->kind != PortKind::Virtual || parsed->number > kPresetCount) {
        return 0;
    }
    return static_cast<int>(parsed->number);
}

Preset SimulatedDevices::preset(int number) {
    Preset start;
    switch (number) {
        case kNmeaPreset:
            start.settings.line = LineSettings{kNmeaPresetBaud, Parity::None, StopBits::One};
            start.settings.output = OutputProtocol::Nmea;
            start.settings.sentenceMask = kSentenceGga | kSentenceGll | kSentenceRmc;
            break;
        case kFastOddPreset:
            start.settings.line = LineSettings{kFastOddPresetBaud, Parity::Odd, StopBits::One};
            break;
        case kSilentPreset:
            start.behaviour.answering = Answering::Silent;
            break;
        case kRejectingPreset:
            start.behaviour.answering = Answering::RejectsPortConfig;
            break;
        case kNamelessPreset:
            start.behaviour.identity.answers = false;
            break;
        case kFactoryPreset:
        default:
            break;
    }
    return start;
}

}  // namespace kestrune
