#include "link/receiver_link.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <system_error>

#include "link/port_names.h"
#include "protocol/gsv_sentence.h"
#include "protocol/nmea_sentence.h"
#include "protocol/tsip_save.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kIdPortReport = kIdPortConfig;
// A UART that has lost step with the characters it hears finds a true start bit again once the
// line has been idle for a character's time.
constexpr std::size_t kIdleCharacters = 1;

using Ticks = std::chrono::steady_clock::duration;

Ticks nowTicks() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

}  // namespace

ReceiverLink::ReceiverLink(Timing timing, PortOpener opener)
    : timing_(timing), opener_(std::move(opener)) {}

ReceiverLink::~ReceiverLink() {
    close();
}

void ReceiverLink::setPortName(std::string_view name) {
    if (samePortName(name, portName_)) {
        return;
    }
    portName_.assign(name);
    (void)open();
}

bool ReceiverLink::open() {
    close();
    deviceGone_.store(false);
    cancellation_.resetAbort();
    OpenResult opened = opener_ ? opener_(portName_) : OpenResult{nullptr, OpenError::NoSuchDevice};
    openError_.store(opened.error);
    if (opened.port == nullptr) {
        return false;
    }
    port_ = std::move(opened.port);
    port_->setGatherPause(timing_.gatherPause);
    if (!port_->setReadCeiling(timing_.readCeiling)) {
        openError_.store(OpenError::Failed);
        close();
        return false;
    }
    stopRequested_.store(false);
    writtenUntil_.store(0);
    bytesHeard_.store(0);
    staleBelow_.store(0);
    {
        const std::lock_guard lock(protocolMutex_);
        protocolStatedAt_ = 0;  // the new port's input counts from nothing
        protocolHeldBelow_ = 0;
    }
    configured_.reset();
    try {
        reader_ = std::thread([this] { readerLoop(); });
    } catch (const std::system_error&) {
        openError_.store(OpenError::Failed);
        close();  // no thread could be had; the link stays closed
        return false;
    }
    open_.store(true);
    return true;
}

// The reader is told to stop and its wait on the port is cut short, so this returns well inside
// the close wait; the port is never closed under a running reader.
void ReceiverLink::close() {
    open_.store(false);
    if (reader_.joinable()) {
        stopRequested_.store(true);
        port_->stopReading();
        reader_.join();
    }
    port_.reset();
    clearVerified();
}

// The mark is taken after the move: a byte that came in between is counted as old, which can
// only cost an unasked-for byte, never credit an old one.
bool ReceiverLink::configurePort(const LineSettings& settings) {
    LineSettings current;
    if (port_ == nullptr || !port_->getLineSettings(current)) {
        close();
        return false;
    }
    // What is held was heard at these very settings. (Compared with what was set rather than
    // what the device reads back: a pseudo-terminal reads back no parity.)
    if (configured_ == settings) {
        return true;
    }
    letWrittenBytesLeave(configured_.value_or(current), settings);
    if (!port_->setLineSettings(settings)) {
        close();
        return false;
    }
    configured_ = settings;
    changedAt_.store(nowTicks().count());
    const std::lock_guard lock(settingsEpochMutex_);
    staleBelow_.store(port_->inputMark());
    epochParity_.store(settings.parity);
    settingsEpoch_.fetch_add(1);
    return true;
}

std::optional<LineSettings> ReceiverLink::verifiedSettings() const {
    const std::lock_guard lock(settingsMutex_);
    return verified_;
}

std::optional<PortReport> ReceiverLink::lastPortReport() const {
    const std::lock_guard lock(settingsMutex_);
    return lastPortReport_;
}

void ReceiverLink::clearVerified() {
    const std::lock_guard lock(settingsMutex_);
    verified_.reset();
}

void ReceiverLink::storeVerified(const LineSettings& settings) {
    const std::lock_guard lock(settingsMutex_);
    verified_ = settings;
}

bool ReceiverLink::write(const TsipFrame& frame) {
    if (port_ == nullptr || !port_->write(frame.bytes())) {
        return false;
    }
    if (configured_) {
        const Ticks from = std::max(nowTicks(), Ticks(writtenUntil_.load()));
        writtenUntil_.store(
            (from + lineTime(frame.bytes().size(), *configured_, timing_.factor)).count());
    }
    return true;
}

// Bytes still leaving at the old settings would leave at the new ones, or run straight into the
// next question: a receiver's UART out of step with them then misreads the question too. So a
// change waits for them to leave, and for a character's time of idle line at the slower side.
void ReceiverLink::letWrittenBytesLeave(const LineSettings& from, const LineSettings& to) const {
    const LineSettings& slower = from.baud < to.baud ? from : to;
    const Ticks idleBy =
        Ticks(writtenUntil_.load()) + lineTime(kIdleCharacters, slower, timing_.factor);
    const Ticks left = idleBy - nowTicks();
    if (left > Ticks::zero()) {
        (void)cancellation_.sleepFor(std::chrono::ceil<std::chrono::milliseconds>(left));
    }
}

bool ReceiverLink::setBreak(bool on) {
    return port_ != nullptr && port_->setBreak(on);
}

void ReceiverLink::readerLoop() {
    while (!stopRequested_.load()) {
        std::uint8_t byte = 0;
        const ReadResult read = port_->readByte(byte);
        if (read == ReadResult::Failed) {
            deviceHasGone();
            return;
        }
        if (read == ReadResult::Byte) {
            take(byte);
        }
    }
}

// The epoch is read before the mark, and configurePort writes them the other way round, so a
// byte read below a fresh mark is always seen as stale.
void ReceiverLink::take(std::uint8_t byte) {
    const std::uint32_t epoch = settingsEpoch_.load();
    const std::uint64_t position = bytesHeard_.fetch_add(1, std::memory_order_relaxed);
    if (position < staleBelow_.load()) {
        return;
    }
    if (epoch != framerEpoch_) {
        framerEpoch_ = epoch;
        framer_ = StreamFramer{};
    }
    // A byte heard while the old settings' residue may still arrive may have been framed by
    // those, and an address then tells nothing of these. Once an epoch's residue is over it
    // stays over, so the clock is read only until then.
    bool residue = false;
    if (epoch != residueOverEpoch_) {
        residue = withinResidue();
        if (!residue) {
            residueOverEpoch_ = epoch;
        }
    }
    const std::optional<Parity> frame =
        residue ? std::nullopt : std::optional<Parity>(epochParity_.load());
    if (tally_.add(byte, epoch, frame) && !residue) {
        tally_.addAddress(epoch);
    }
    if (const auto message = framer_.feed(byte)) {
        if (!message->empty() && message->front() == kSentenceStart &&
            !nmeaChecksumHolds(*message)) {
            tally_.addBadSentence(epoch);
        } else {
            tally_.addMessage(epoch);
        }
        const std::lock_guard lock(settingsEpochMutex_);
        if (settingsEpoch_.load() == framerEpoch_) {
            dispatch(*message, position);
        }
    } else if (framer_.state() == FramerState::Idle) {
        tally_.addStray(epoch);
    }
}

bool ReceiverLink::withinResidue() const {
    const std::chrono::steady_clock::rep ticks = changedAt_.load();
    return ticks != kNeverChanged && std::chrono::steady_clock::now().time_since_epoch() -
                                             std::chrono::steady_clock::duration(ticks) <
                                         timing_.residueWait;
}

// Nothing more will come from this port: the settings it was verified at are gone with it, and
// a procedure waiting on it is woken to end.
void ReceiverLink::deviceHasGone() {
    deviceGone_.store(true);
    clearVerified();
    cancellation_.abort();
}

void ReceiverLink::setOutputProtocol(OutputProtocol output, std::uint64_t queuedBytes) {
    const std::lock_guard lock(protocolMutex_);
    protocolStatedAt_ = port_ != nullptr ? port_->inputMark() : 0;
    protocolHeldBelow_ = protocolStatedAt_ + queuedBytes;
    outputProtocol_.store(output);
}

void ReceiverLink::noteOutput(OutputProtocol output, std::uint64_t endsAt) {
    const std::lock_guard lock(protocolMutex_);
    if (endsAt < protocolStatedAt_) {
        return;
    }
    if (endsAt < protocolHeldBelow_) {
        if (output != outputProtocol_.load()) {
            return;
        }
        protocolHeldBelow_ = 0;  // the receiver sends in order: what it had queued is out
    }
    outputProtocol_.store(output);
}

// Driven from outside the reader, a message counts as heard after every statement.
void ReceiverLink::dispatch(std::span<const std::uint8_t> message) {
    dispatch(message, std::numeric_limits<std::uint64_t>::max());
}

void ReceiverLink::dispatch(std::span<const std::uint8_t> message, std::uint64_t endsAt) {
    if (message.empty()) {
        return;
    }
    const auto data = message.subspan(1);
    switch (message[0]) {
        case kIdRejected:
            noteOutput(OutputProtocol::Tsip, endsAt);
            identityReplies_.note(message);
            rejectEvent_.pulse();
            break;
        case kSentenceStart:
            noteOutput(OutputProtocol::Nmea, endsAt);
            replyEvent_.pulse();
            if (nmeaChecksumHolds(message) && !withinResidue()) {
                checkedSentenceEvent_.pulse();
            }
            postSentenceLevels(message);
            break;
        case kIdSignalLevels:
            postSignalLevels(data);
            break;
        case kIdNmeaReport:
            postNmeaMask(data);
            noteOutput(OutputProtocol::Tsip, endsAt);
            replyEvent_.pulse();
            if (holdsNmeaMask(data)) {
                nmeaReportEvent_.pulse();
            }
            break;
        case kIdPortReport:
            noteOutput(OutputProtocol::Tsip, endsAt);
            notePortReport(data);
            replyEvent_.pulse();
            break;
        default:
            noteOutput(OutputProtocol::Tsip, endsAt);
            identityReplies_.note(message);
            if (confirmsSave(message)) {
                saveEvent_.pulse();
            }
            replyEvent_.pulse();
            break;
    }
}

void ReceiverLink::notePortReport(std::span<const std::uint8_t> data) {
    const std::optional<PortReport> report = decodePortReport(data);
    if (!report) {
        return;
    }
    {
        const std::lock_guard lock(settingsMutex_);
        lastPortReport_ = report;
    }
    portReportEvent_.pulse();
}

void ReceiverLink::postNmeaMask(std::span<const std::uint8_t> data) {
    if (NotificationSink* sink = window_.load()) {
        sink->post(kNotifyNmeaMask, decodeNmeaReport(data), 0);
    }
}

void ReceiverLink::postSignalLevels(std::span<const std::uint8_t> data) {
    NotificationSink* sink = window_.load();
    if (sink == nullptr) {
        return;
    }
    // Named, so that the levels outlive the loop over their view.
    const SignalLevels levels = decodeSignalLevels(data);
    for (const SignalLevel& entry : levels.view()) {
        sink->post(kNotifySignalLevel, entry.prn, static_cast<std::uint32_t>(entry.level));
    }
}

// The same notification as a 0x47 report's, so that the window does not care which format the
// levels came in.
void ReceiverLink::postSentenceLevels(std::span<const std::uint8_t> sentence) {
    NotificationSink* sink = window_.load();
    if (sink == nullptr) {
        return;
    }
    if (const std::optional<GsvSatellites> satellites = decodeGsv(sentence)) {
        for (const GsvSatellite& satellite : satellites->view()) {
            sink->post(kNotifySignalLevel, satellite.prn,
                       static_cast<std::uint32_t>(satellite.snrDbHz));
        }
    }
}

}  // namespace kestrune
