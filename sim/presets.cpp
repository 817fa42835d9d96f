#include "sim/presets.h"

#include <cctype>

#include "sim/simulated_port.h"

namespace kestrune {

namespace {

constexpr std::string_view kPrefix = "SIM";
constexpr char kNameEnd = ':';
constexpr int kDecimal = 10;

enum PresetNumber : int {
    kFactoryPreset = 1,
    kNmeaPreset = 2,
    kFastOddPreset = 3,
    kSilentPreset = 4,
    kRejectingPreset = 5,
};

constexpr std::uint32_t kNmeaPresetBaud = 4800;
constexpr std::uint32_t kFastOddPresetBaud = 38400;

// The digits after the prefix, or an empty view if the name is not SIM plus digits.
std::string_view simDigits(std::string_view name) {
    // A stored port name has at most five characters; a longer one names no device at all.
    if (name.size() > kMaxPortName) {
        return {};
    }
    if (!name.empty() && name.back() == kNameEnd) {
        name.remove_suffix(1);
    }
    if (name.size() <= kPrefix.size()) {
        return {};
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != kPrefix[i]) {
            return {};
        }
    }
    const std::string_view digits = name.substr(kPrefix.size());
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return {};
        }
    }
    return digits;
}

}  // namespace

SimulatedDevices::SimulatedDevices(double clockFactor) {
    for (int number = 1; number <= kPresetCount; ++number) {
        const Preset start = preset(number);
        receivers_[number - 1] =
            std::make_unique<VirtualReceiver>(start.settings, start.behaviour, clockFactor);
    }
}

std::unique_ptr<SerialPort> SimulatedDevices::open(std::string_view name) {
    VirtualReceiver* device = receiver(presetNumber(name));
    if (device == nullptr) {
        return nullptr;
    }
    return SimulatedPort::open(*device);
}

VirtualReceiver* SimulatedDevices::receiver(int number) {
    if (number < 1 || number > kPresetCount) {
        return nullptr;
    }
    return receivers_[number - 1].get();
}

bool SimulatedDevices::isSimulatedName(std::string_view name) {
    return !simDigits(name).empty();
}

int SimulatedDevices::presetNumber(std::string_view name) {
    const std::string_view digits = simDigits(name);
    int number = 0;
    for (const char c : digits) {
        number = number * kDecimal + (c - '0');
        if (number > kPresetCount) {
            return 0;
        }
    }
    return number;
}

Preset SimulatedDevices::preset(int number) {
    Preset start;
    switch (number) {
        case kNmeaPreset:
            start.settings.line = LineSettings{kNmeaPresetBaud, kParityNone, kOneStopBit};
            start.settings.output = OutputProtocol::Nmea;
            start.settings.sentenceMask = kSentenceGga | kSentenceGll | kSentenceRmc;
            break;
        case kFastOddPreset:
            start.settings.line = LineSettings{kFastOddPresetBaud, kParityOdd, kOneStopBit};
            break;
        case kSilentPreset:
            start.behaviour.answering = Answering::Silent;
            break;
        case kRejectingPreset:
            start.behaviour.answering = Answering::RejectsPortConfig;
            break;
        case kFactoryPreset:
        default:
            break;
    }
    return start;
}

}  // namespace kestrune
