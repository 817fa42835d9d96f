#include "sim/virtual_receiver.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/nmea_output.h"
#include "sim/query_answers.h"
#include "sim/receiver_reports.h"
#include "sim/tsip_messages.h"

namespace kestrune {

namespace {

using std::chrono::milliseconds;

// A receiver takes a moment to turn a query into a report.
constexpr milliseconds kReplyDelay{5};
// The line break and the quiet after it that return the port to factory settings.
constexpr milliseconds kShortestResetBreak{600};
constexpr milliseconds kQuietAfterBreak{1000};
constexpr milliseconds kOneSecond{1000};
// The host's port sends back to back.
constexpr double kNoGap = 0.0;
constexpr std::uint32_t kHostSeed = 1;
// Noise waiting to leave: one burst, with room.
constexpr std::size_t kNoiseCapacity = 256;

// Each sentence on its own, with its line end.
std::vector<std::vector<std::uint8_t>> splitSentences(const std::string& text) {
    constexpr std::string_view kLineEnd = "\r\n";
    std::vector<std::vector<std::uint8_t>> sentences;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t found = text.find(kLineEnd, begin);
        const std::size_t end = found == std::string::npos ? text.size() : found + kLineEnd.size();
        sentences.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(begin),
                               text.begin() + static_cast<std::ptrdiff_t>(end));
        begin = end;
    }
    return sentences;
}

// The host's clock is off the receiver's by as much the other way.
UartModel hostSide(UartModel model) {
    model.senderClockOffset = -model.senderClockOffset;
    return model;
}

}  // namespace

VirtualReceiver::VirtualReceiver(const ReceiverSettings& initial,
                                 const ReceiverBehaviour& behaviour, double clockFactor)
    : clock_(clockFactor),
      behaviour_(behaviour),
      settings_(initial),
      transmitter_(clock_, kOutputCapacity, kOutputGapBits, behaviour.lineSeed, behaviour.uart),
      hostLine_(clock_, kInputCapacity, kNoGap, kHostSeed, hostSide(behaviour.uart)),
      noise_(clock_, kNoiseCapacity, kNoGap, behaviour.lineSeed) {
    try {
        worker_ = std::thread(&VirtualReceiver::run, this);
    } catch (const std::system_error&) {
        // Without a worker the device still hears and obeys, but nothing leaves it: a receiver
        // whose transmitter is dead, which the program reports as not found.
    }
}

VirtualReceiver::~VirtualReceiver() {
    {
        const Lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool VirtualReceiver::attach(HostLine& host, const LineSettings& hostSettings,
                             const InputErrorHandling& handling) {
    const Lock lock(mutex_);
    if (host_ != nullptr) {
        return false;
    }
    host_ = &host;
    hostSettings_ = hostSettings;
    hostHandling_ = handling;
    nextOutput_ = SimClock::now() + outputInterval();
    if (behaviour_.noise != LineNoise::None) {
        nextNoise_ = SimClock::now();
    }
    wake_.notify_all();
    return true;
}

void VirtualReceiver::detach(HostLine& host) {
    const Lock lock(mutex_);
    if (host_ != &host) {
        return;
    }
    const SimTime now = SimClock::now();
    serviceDue(now);
    finishHostWrites();
    host_ = nullptr;
    nextOutput_.reset();
    transmitter_.clear();  // nobody is there for what was still to be said
    noise_.clear();
    nextNoise_.reset();
    blockCount_ = 0;
    blockDue_.reset();
    periodicPending_.clear();
    if (breakOn_) {
        endBreak(now);
    }
    wake_.notify_all();
}

void VirtualReceiver::hostWrite(std::span<const std::uint8_t> bytes) {
    const Lock lock(mutex_);
    const SimTime now = SimClock::now();
    serviceDue(now);
    if (!bytes.empty()) {
        resetAt_.reset();  // input during the quiet after a break cancels the reset
    }
    (void)hostLine_.queue(bytes, now, behaviour_.uart.nativeUsb ? settings_.line : hostSettings_);
    wake_.notify_all();
}

void VirtualReceiver::setHostLineSettings(const LineSettings& settings) {
    const Lock lock(mutex_);
    serviceDue(SimClock::now());  // bytes already on their way arrive at the old settings
    // What a new setting hears is its own noise; a host that only reads its settings again (a
    // pseudo-terminal's are polled) keeps hearing the burst under way.
    if (settings != hostSettings_) {
        noise_.clear();
    }
    hostSettings_ = settings;
    wake_.notify_all();
}

void VirtualReceiver::setHostInputHandling(const InputErrorHandling& handling) {
    const Lock lock(mutex_);
    serviceDue(SimClock::now());
    hostHandling_ = handling;
}

void VirtualReceiver::setHostBreak(bool on) {
    const Lock lock(mutex_);
    const SimTime now = SimClock::now();
    serviceDue(now);
    if (on && !breakOn_) {
        breakOn_ = true;
        hostLine_.clear();  // the break holds the line low over whatever was still leaving
        breakStart_ = now;
        resetAt_.reset();
        parser_.reset();  // a break cuts any packet in progress
    } else if (!on && breakOn_) {
        endBreak(now);
    }
    wake_.notify_all();
}

ReceiverSettings VirtualReceiver::settings() const {
    const Lock lock(mutex_);
    return settings_;
}

void VirtualReceiver::setSettings(const ReceiverSettings& settings) {
    const Lock lock(mutex_);
    switchTo(settings, SimClock::now());
    wake_.notify_all();
}

bool VirtualReceiver::hostAttached() const {
    const Lock lock(mutex_);
    return host_ != nullptr;
}

std::vector<HostWrite> VirtualReceiver::hostWrites() const {
    const Lock lock(mutex_);
    return std::vector<HostWrite>(log_.begin(), log_.end());
}

void VirtualReceiver::clearHostWrites() {
    const Lock lock(mutex_);
    log_.clear();
}

std::uint32_t VirtualReceiver::factoryResets() const {
    const Lock lock(mutex_);
    return factoryResets_;
}

std::size_t VirtualReceiver::inputBacklog() const {
    const Lock lock(mutex_);
    return std::max<std::size_t>(hostLine_.backlog(), hostLine_.idle(&settings_.line) ? 0 : 1);
}

bool VirtualReceiver::waitForHostWrites(std::chrono::milliseconds limit) const {
    Lock lock(mutex_);
    return hostWritesTaken_.wait_for(lock, limit,
                                     [this] { return hostLine_.idle(&settings_.line); });
}

std::size_t VirtualReceiver::outputBacklog() const {
    const Lock lock(mutex_);
    return transmitter_.backlog() + periodicBytes();
}

void VirtualReceiver::run() {
    Lock lock(mutex_);
    while (!stopping_) {
        serviceDue(SimClock::now());
        if (const auto deadline = nextDeadline()) {
            wake_.wait_until(lock, *deadline);
        } else {
            wake_.wait(lock);
        }
    }
}

// Everything whose time has come: the factory reset, the periodic output, the bytes that have
// left. Called before acting on the host, so the host always meets an up-to-date receiver.
void VirtualReceiver::serviceDue(SimTime now) {
    if (resetAt_ && now >= *resetAt_) {
        resetAt_.reset();
        ReceiverSettings factory = settings_;  // the sentence selection survives the reset
        factory.line = ReceiverSettings{}.line;
        factory.output = OutputProtocol::Tsip;
        parser_.reset();
        ++factoryResets_;
        switchTo(factory, now);
    }
    hostLine_.pump(now, &settings_.line, deviceEnd_);
    if (hostLine_.idle(&settings_.line)) {
        hostWritesTaken_.notify_all();
    }
    if (nextOutput_ && now >= *nextOutput_) {
        emitPeriodic(now);
    }
    transmitter_.pump(now, listener(), hostEnd_);
    if (blockDue_ && now >= *blockDue_) {
        flushBlock();
    }
    feedPeriodic(now);
    if (nextNoise_ && now >= *nextNoise_) {
        emitNoise(now);
    }
    noise_.pump(now, noiseListener(), hostEnd_);
}

// A burst every interval, each once the last has left: a slow setting hears noise without pause.
void VirtualReceiver::emitNoise(SimTime now) {
    nextNoise_ = now + clock_.scaled(kNoiseInterval);
    if (noiseListener() != nullptr && noise_.backlog() == 0) {
        (void)noise_.queue(noiseBurst(behaviour_.lineSeed, noiseBursts_++), now, hostSettings_);
    }
}

// The host's settings while it hears noise there: any but the receiver's own, or every one when
// there is no receiver.
const LineSettings* VirtualReceiver::noiseListener() const {
    const LineSettings* host = listener();
    if (host == nullptr || host != &hostSettings_) {
        return nullptr;
    }
    const bool own = host->baud == settings_.line.baud && host->parity == settings_.line.parity;
    return !present() || (behaviour_.noise == LineNoise::OtherSettings && !own) ? host : nullptr;
}

// With only noise on the line there is no receiver: nothing answers and nothing streams.
bool VirtualReceiver::present() const {
    return behaviour_.noise != LineNoise::Only;
}

// The host's settings while one listens; with none, what the receiver sends is lost. A host at
// a rate the model does not cover (a pseudo-terminal set to 115200) hears nothing rather than
// a stream of made-up breaks.
// A native USB port hears every byte whole.
const LineSettings* VirtualReceiver::listener() const {
    if (host_ != nullptr && behaviour_.uart.nativeUsb) {
        return &settings_.line;
    }
    return host_ != nullptr && findBaudRate(hostSettings_.baud) ? &hostSettings_ : nullptr;
}

std::optional<SimTime> VirtualReceiver::nextDeadline() const {
    std::optional<SimTime> deadline = transmitter_.nextDue(listener());
    for (const auto& candidate :
         {resetAt_, nextOutput_, blockDue_, nextNoise_, hostLine_.nextDue(&settings_.line),
          noise_.nextDue(noiseListener())}) {
        if (candidate && (!deadline || *candidate < *deadline)) {
            deadline = candidate;
        }
    }
    return deadline;
}

// Once per interval: the selected sentences in NMEA mode, the fix reports in TSIP mode. On a line
// too slow for them the output queues behind what is still leaving, so the line stays busy, until
// the output buffer is full; then the newest output is dropped.
void VirtualReceiver::emitPeriodic(SimTime now) {
    SimTime next = *nextOutput_ + outputInterval();
    if (next <= now) {
        next = now + outputInterval();  // fell behind: keep the pace rather than catch up
    }
    nextOutput_ = next;
    if (behaviour_.answering == Answering::Silent || !behaviour_.periodicOutput || !present()) {
        return;
    }
    const Fix fix = currentFix();
    std::vector<std::vector<std::uint8_t>> output;
    if (settings_.output == OutputProtocol::Nmea) {
        output = splitSentences(nmeaSentences(settings_.sentenceMask, fix));
    } else {
        output = periodicReports(fix);
    }
    for (std::vector<std::uint8_t>& report : output) {
        if (report.size() > outputRoom()) {
            return;
        }
        periodicPending_.push_back(std::move(report));
    }
}

// The periodic reports and sentences leave one at a time, each once the line is free: an answer
// queued meanwhile goes out after the report under way rather than after the whole set, as a
// receiver slots its answers between its reports.
void VirtualReceiver::feedPeriodic(SimTime now) {
    if (transmitter_.backlog() == 0 && !periodicPending_.empty()) {
        (void)transmitter_.queue(periodicPending_.front(), now, settings_.line);
        periodicPending_.pop_front();
    }
}

std::size_t VirtualReceiver::periodicBytes() const {
    std::size_t bytes = 0;
    for (const std::vector<std::uint8_t>& report : periodicPending_) {
        bytes += report.size();
    }
    return bytes;
}

// The output buffer holds what waits to leave and the periodic reports not yet handed to it.
std::size_t VirtualReceiver::outputRoom() const {
    return transmitter_.room() - periodicBytes();
}

// Whole or not at all: a packet cut short would be worse than one never sent.
bool VirtualReceiver::queueOutput(std::span<const std::uint8_t> bytes, SimTime readyAt) {
    return bytes.size() <= outputRoom() &&
           transmitter_.queue(bytes, readyAt, settings_.line) == bytes.size();
}

void VirtualReceiver::handle(const TsipPacket& packet, SimTime now) {
    if (!packet.wellFramed) {
        reject(packet, now);
        return;
    }
    switch (packet.id) {
        case kSimIdPortConfig:
            handlePortConfig(packet, now);
            return;
        case kSimIdNmeaConfig:
            handleNmeaConfig(packet, now);
            return;
        case kSimIdSuperCommand:
            handleSave(packet, now);
            return;
        default:
            answerQuery(packet, now);
            return;
    }
}

void VirtualReceiver::answerQuery(const TsipPacket& packet, SimTime now) {
    Frames answer = kestrune::answerQuery(packet, currentFix(), behaviour_.identity);
    if (answer.empty()) {
        reject(packet, now);
        return;
    }
    for (std::vector<std::uint8_t>& frame : answer) {
        reply(std::move(frame), now);
    }
}

void VirtualReceiver::handlePortConfig(const TsipPacket& packet, SimTime now) {
    if (isPortQuery(packet.data)) {
        ReceiverSettings reported = settings_;
        reported.line = behaviour_.reportedLine.value_or(settings_.line);
        reply(portReport(reported), now);
        return;
    }
    const auto next = decodePortConfig(packet.data, settings_);
    if (!next || behaviour_.answering == Answering::RejectsPortConfig) {
        reject(packet, now);
        return;
    }
    switchTo(*next, now);  // at once: the next byte is already heard at the new settings
}

void VirtualReceiver::handleNmeaConfig(const TsipPacket& packet, SimTime now) {
    if (isNmeaQuery(packet.data)) {
        reply(nmeaReport(settings_), now);
        return;
    }
    const auto next = decodeNmeaConfig(packet.data, settings_);
    if (!next) {
        reject(packet, now);
        return;
    }
    switchTo(*next, now);
}

// TSIP replies go out only while the output protocol is TSIP; a receiver in NMEA mode obeys
// commands but sends nothing but sentences.
void VirtualReceiver::reply(std::vector<std::uint8_t> frame, SimTime now) {
    if (behaviour_.answering == Answering::Silent || settings_.output != OutputProtocol::Tsip ||
        !present()) {
        return;
    }
    (void)queueOutput(frame, now + clock_.scaled(kReplyDelay));
}

void VirtualReceiver::reject(const TsipPacket& packet, SimTime now) {
    reply(rejection(packet.id, packet.data), now);
}

// A change of output protocol starts the new output at once rather than a whole interval later.
void VirtualReceiver::switchTo(const ReceiverSettings& next, SimTime now) {
    const bool outputChanged = next.output != settings_.output;
    settings_ = next;
    transmitter_.retune(settings_.line);
    if (behaviour_.uart.nativeUsb) {
        hostLine_.retune(settings_.line);  // what the host still sends comes at the new pace
    }
    if (outputChanged) {
        periodicPending_.clear();  // reports of the protocol no longer spoken
    }
    if (outputChanged && host_ != nullptr && !behaviour_.ownSchedule) {
        nextOutput_ = now + clock_.scaled(kReplyDelay);
    }
}

void VirtualReceiver::endBreak(SimTime now) {
    breakOn_ = false;
    if (now - breakStart_ >= clock_.scaled(kShortestResetBreak)) {
        resetAt_ = now + clock_.scaled(kQuietAfterBreak);
    }
}

Fix VirtualReceiver::currentFix() const {
    return fixAt(behaviour_.place, behaviour_.jitterSeed, std::chrono::system_clock::now());
}

SimDuration VirtualReceiver::outputInterval() const {
    return clock_.scaled(kOneSecond * std::max<std::uint32_t>(settings_.intervalSeconds, 1));
}

}  // namespace kestrune
