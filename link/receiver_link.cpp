#include "link/receiver_link.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <system_error>

#include "protocol/tsip_commands.h"

namespace kestrune {

namespace {

// 0x7B report: data byte 4 holds RMC in its bit 0, data byte 5 the other sentences in place.
constexpr std::size_t kNmeaReportRmcByte = 1 + 4;
constexpr std::size_t kNmeaReportLowByte = 1 + 5;
constexpr std::uint8_t kReceiverRmcBit = 0x01;

// 0x47 report: a count, then entries of PRN and a big-endian IEEE-754 single.
constexpr std::size_t kSignalCountIndex = 1;
constexpr std::size_t kSignalEntrySize = 5;
constexpr std::size_t kPrnOffset = 0;
constexpr std::size_t kLevelOffset = 1;
constexpr double kDecibelScale = 20.0;
constexpr double kDecibelOffset = 22.8;
constexpr double kRounding = 0.5;

// The first four bytes, most significant first.
std::uint32_t bigEndianWord(std::span<const std::uint8_t> bytes) {
    constexpr int kBitsPerByte = 8;
    constexpr std::size_t kWordBytes = 4;
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < kWordBytes; ++i) {
        word = (word << kBitsPerByte) | bytes[i];
    }
    return word;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

}  // namespace

Timing Timing::scaled(double factor) const {
    Timing t;
    t.readCeiling = scaleDelay(readCeiling, factor);
    t.closeWait = scaleDelay(closeWait, factor);
    t.rejectWait = scaleDelay(rejectWait, factor);
    t.nmeaReportWait = scaleDelay(nmeaReportWait, factor);
    t.probeWait = scaleDelay(probeWait, factor);
    t.verifyWait = scaleDelay(verifyWait, factor);
    t.breakLength = scaleDelay(breakLength, factor);
    t.breakQuiet = scaleDelay(breakQuiet, factor);
    t.settle = scaleDelay(settle, factor);
    return t;
}

std::int32_t signalLevelValue(float level) {
    if (!std::isfinite(level) || !(level > 0.0f)) {
        return 0;
    }
    const auto decibels =
        static_cast<float>(kDecibelScale * std::log10(double{level}) + kDecibelOffset);
    // Every finite positive single lands between -873 and 793, well inside the result's range.
    return static_cast<std::int32_t>(double{decibels} + kRounding);  // truncates toward zero
}

ReceiverLink::ReceiverLink(Timing timing, PortOpener opener)
    : timing_(timing), opener_(std::move(opener)) {}

ReceiverLink::~ReceiverLink() {
    close();
}

void ReceiverLink::setPortName(std::string_view name) {
    if (sameName(name, portName_)) {
        return;
    }
    portName_.assign(name);
    (void)open();
}

bool ReceiverLink::open() {
    close();
    if (!opener_) {
        return false;
    }
    port_ = opener_(portName_);
    if (port_ == nullptr) {
        return false;
    }
    if (!port_->setReadCeiling(timing_.readCeiling)) {
        close();
        return false;
    }
    stopRequested_.store(false);
    try {
        reader_ = std::thread([this] { readerLoop(); });
    } catch (const std::system_error&) {
        close();  // no thread could be had; the link stays closed
        return false;
    }
    return true;
}

void ReceiverLink::close() {
    if (reader_.joinable()) {
        stopRequested_.store(true);
        // The read ceiling keeps the reader inside the close wait; should it still be running,
        // keep waiting: the port is never closed under it.
        if (!readerEnded_.try_acquire_for(timing_.closeWait)) {
            readerEnded_.acquire();
        }
        reader_.join();
    }
    port_.reset();
    verified_.store(false);
}

bool ReceiverLink::configurePort(std::uint32_t baud, std::uint32_t parity, std::uint32_t stopBits) {
    LineSettings settings;
    if (port_ == nullptr || !port_->getLineSettings(settings)) {
        close();
        return false;
    }
    settings.baud = baud;
    settings.parity = parity;
    settings.stopBits = stopBits;
    if (!port_->setLineSettings(settings)) {
        close();
        return false;
    }
    return true;
}

void ReceiverLink::storeVerified(const LineSettings& settings) {
    baud_.store(settings.baud);
    parity_.store(settings.parity);
    stopBits_.store(settings.stopBits);
    verified_.store(true);
}

void ReceiverLink::readerLoop() {
    while (!stopRequested_.load()) {
        std::uint8_t byte = 0;
        if (port_->readByte(byte) != ReadResult::Byte) {
            continue;
        }
        if (const auto message = framer_.feed(byte)) {
            dispatch(*message);
        }
    }
    readerEnded_.release();
}

void ReceiverLink::dispatch(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return;
    }
    switch (message[0]) {
        case kIdRejected:
            outputProtocol_.store(OutputProtocol::Tsip);
            rejectEvent_.pulse();
            break;
        case kSentenceStart:
            outputProtocol_.store(OutputProtocol::Nmea);
            replyEvent_.pulse();
            break;
        case kIdSignalLevels:
            postSignalLevels(message);
            break;
        case kIdNmeaReport:
            postNmeaMask(message);
            outputProtocol_.store(OutputProtocol::Tsip);
            replyEvent_.pulse();
            nmeaReportEvent_.pulse();
            break;
        default:
            outputProtocol_.store(OutputProtocol::Tsip);
            replyEvent_.pulse();
            break;
    }
}

// A report too short to hold the mask bytes still counts as a report; it posts what it holds
// (missing bytes read as zero).
void ReceiverLink::postNmeaMask(std::span<const std::uint8_t> message) {
    const std::uint8_t rmcByte =
        message.size() > kNmeaReportRmcByte ? message[kNmeaReportRmcByte] : 0;
    const std::uint8_t lowByte =
        message.size() > kNmeaReportLowByte ? message[kNmeaReportLowByte] : 0;
    NmeaMask mask = lowByte;
    if ((rmcByte & kReceiverRmcBit) != 0) {
        mask |= kMaskRmc;
    }
    if (NotificationSink* sink = window_.load()) {
        sink->post(kNotifyNmeaMask, mask, 0);
    }
}

// Only entries wholly inside the message are read; the count byte is not trusted.
void ReceiverLink::postSignalLevels(std::span<const std::uint8_t> message) {
    if (message.size() <= kSignalCountIndex) {
        return;
    }
    const std::size_t promised = message[kSignalCountIndex];
    const std::size_t present = (message.size() - kSignalCountIndex - 1) / kSignalEntrySize;
    const std::size_t count = std::min(promised, present);
    for (std::size_t i = 0; i < count; ++i) {
        const auto entry =
            message.subspan(kSignalCountIndex + 1 + i * kSignalEntrySize, kSignalEntrySize);
        const std::int32_t level =
            signalLevelValue(std::bit_cast<float>(bigEndianWord(entry.subspan(kLevelOffset))));
        if (NotificationSink* sink = window_.load()) {
            sink->post(kNotifySignalLevel, entry[kPrnOffset], static_cast<std::uint32_t>(level));
        }
    }
}

}  // namespace kestrune
