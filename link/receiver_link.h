// The program's connection to the receiver: the serial port, a reader thread that frames what the
// receiver sends and turns it into pulses and notifications, the events the procedures wait on,
// and the last line settings the receiver was seen to answer at.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "link/heard_tally.h"
#include "link/identity_replies.h"
#include "link/notification_sink.h"
#include "link/pulse_event.h"
#include "link/serial_opener.h"
#include "link/timing.h"
#include "protocol/receiver_settings.h"
#include "protocol/stream_framer.h"
#include "protocol/tsip_commands.h"
#include "protocol/tsip_reports.h"

namespace kestrune {

class ReceiverLink {
  public:
    explicit ReceiverLink(Timing timing = {}, PortOpener opener = openSerialPort);
    ~ReceiverLink();
    ReceiverLink(const ReceiverLink&) = delete;
    ReceiverLink& operator=(const ReceiverLink&) = delete;

    // Opens the named port (a short name or a device path, see port_names.h) unless it is the one
    // already named. A name that stands for no device leaves the link closed.
    void setPortName(std::string_view name);
    const std::string& portName() const { return portName_; }

    // Opens the named port and starts the reader; the reason of a failed open is kept.
    [[nodiscard]] bool open();
    OpenError openError() const { return openError_.load(); }
    void close();
    // Safe from any thread: a window may ask while a command's thread opens or closes the port.
    bool isOpen() const { return open_.load(); }
    // The reader found the device gone (hang-up, unplugged adapter); the link stays as it is
    // until it is opened again.
    bool deviceGone() const { return deviceGone_.load(); }

    // Moves the local port to new line settings; a failure closes the whole link. Whatever was
    // received before the move (held by the device or by the reader) was heard at the old
    // settings: the reader drops it unframed, so no answer at the old settings is credited to a
    // question asked at the new ones. What was written at the old settings leaves the line at
    // them before the move.
    [[nodiscard]] bool configurePort(const LineSettings& settings);

    void setWindow(NotificationSink* window) { window_.store(window); }
    NotificationSink* window() const { return window_.load(); }

    bool verified() const { return verifiedSettings().has_value(); }
    // The settings the receiver last answered at, read whole; nothing while unverified.
    std::optional<LineSettings> verifiedSettings() const;
    OutputProtocol outputProtocol() const { return outputProtocol_.load(); }
    // Bytes the reader has taken from the port since it was opened, at any settings: a count
    // that never moves means nothing is attached, or nothing is talking. The reader also holds
    // it against the port's input mark to tell bytes heard before a change of settings.
    std::uint64_t bytesHeard() const { return bytesHeard_.load(std::memory_order_relaxed); }
    // What arrived at the current line settings since configurePort moved the port there.
    HeardTally heardHere() const { return tally_.snapshot(settingsEpoch_.load()); }

    // Stops the running procedure's waits and sleeps, from any thread; it stays raised until
    // clearCancel.
    void cancel() { cancellation_.cancel(); }
    void clearCancel() { cancellation_.reset(); }
    const Cancellation& cancellation() const { return cancellation_; }

    // For the procedures.
    const Timing& timing() const { return timing_; }
    // Writes one frame; a frame for a closed port is lost.
    bool write(const TsipFrame& frame);
    bool setBreak(bool on);
    PulseEvent& replyEvent() { return replyEvent_; }
    // Pulsed on a 0x7B report long enough to hold the sentence mask.
    PulseEvent& nmeaReportEvent() { return nmeaReportEvent_; }
    PulseEvent& rejectEvent() { return rejectEvent_; }
    // Pulsed on a well-formed 0xBC port report, and on an NMEA sentence whose checksum holds.
    PulseEvent& portReportEvent() { return portReportEvent_; }
    PulseEvent& checkedSentenceEvent() { return checkedSentenceEvent_; }
    // Pulsed on an answer that confirms a save (protocol/tsip_save.h).
    PulseEvent& saveEvent() { return saveEvent_; }
    // Where the reader notes the identity reports, for readIdentity.
    IdentityReplies& identityReplies() { return identityReplies_; }
    // The last well-formed port report the reader saw.
    std::optional<PortReport> lastPortReport() const;
    void clearVerified();
    // Records settings the receiver answered at and marks them verified.
    void storeVerified(const LineSettings& settings);
    // Records what a procedure knows the receiver sends, having set it itself. Output that had
    // reached the port by then was sent before the change and does not undo it, however late
    // the reader takes it. Nor does other output within the next queuedBytes of input, which the
    // receiver may have queued before it took the change, until output in the stated protocol
    // shows that all of that is out.
    void setOutputProtocol(OutputProtocol output, std::uint64_t queuedBytes = 0);

    // Acts on one framed message as the reader does; public so the fuzzer and tests can drive
    // the dispatch without a port.
    void dispatch(std::span<const std::uint8_t> message);

  private:
    // The position in the port's input of a message's last byte, for telling output sent before
    // a protocol change from output sent after it.
    void dispatch(std::span<const std::uint8_t> message, std::uint64_t endsAt);
    void noteOutput(OutputProtocol output, std::uint64_t endsAt);
    void readerLoop();
    void take(std::uint8_t byte);
    void deviceHasGone();
    // The line settings changed too lately for a whole sentence to have been heard since.
    bool withinResidue() const;
    void letWrittenBytesLeave(const LineSettings& from, const LineSettings& to) const;
    void postNmeaMask(std::span<const std::uint8_t> data);
    void postSignalLevels(std::span<const std::uint8_t> data);
    void postSentenceLevels(std::span<const std::uint8_t> sentence);
    void notePortReport(std::span<const std::uint8_t> data);

    const Timing timing_;
    const PortOpener opener_;
    std::atomic<NotificationSink*> window_{nullptr};
    std::string portName_;
    std::unique_ptr<SerialPort> port_;
    std::thread reader_;
    PulseEvent replyEvent_;
    PulseEvent nmeaReportEvent_;
    PulseEvent rejectEvent_;
    PulseEvent portReportEvent_;
    PulseEvent checkedSentenceEvent_;
    PulseEvent saveEvent_;
    IdentityReplies identityReplies_;
    Cancellation cancellation_;
    mutable std::mutex settingsMutex_;
    std::optional<LineSettings> verified_;
    std::optional<PortReport> lastPortReport_;
    std::atomic<OpenError> openError_{OpenError::None};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> deviceGone_{false};
    std::atomic<bool> open_{false};
    // When the line settings last changed, as steady-clock ticks.
    static constexpr std::chrono::steady_clock::rep kNeverChanged = -1;
    std::atomic<std::chrono::steady_clock::rep> changedAt_{kNeverChanged};
    std::atomic<std::uint64_t> bytesHeard_{0};
    // The protocol, the input mark it was stated at and the end of its hold change together.
    std::mutex protocolMutex_;
    std::atomic<OutputProtocol> outputProtocol_{OutputProtocol::Tsip};
    std::uint64_t protocolStatedAt_ = 0;
    std::uint64_t protocolHeldBelow_ = 0;
    // A message is dispatched only under this lock and only if no settings change came since its
    // bytes were read; configurePort moves the settings under it too. A question asked after
    // configurePort returns can therefore never be answered by a message heard before.
    std::mutex settingsEpochMutex_;
    std::atomic<std::uint32_t> settingsEpoch_{0};
    // The parity of the settings the epoch stands for, stored before the epoch moves on: a byte
    // read in the new epoch is weighed with it, and one of an older epoch is stale anyway.
    std::atomic<Parity> epochParity_{Parity::None};
    // The port's input mark just after the last settings change: bytes read below it are stale.
    std::atomic<std::uint64_t> staleBelow_{0};
    HeardCounters tally_;
    // What configurePort last set on the port now open; used by the procedures' thread alone.
    std::optional<LineSettings> configured_;
    // When the bytes written last will have left the line at the settings they went out at, as
    // steady-clock ticks; a change of settings waits for it (see letWrittenBytesLeave).
    std::atomic<std::chrono::steady_clock::rep> writtenUntil_{0};
    // Used by the reader alone: the settings epoch of the bytes the framer holds, and the last
    // epoch whose residue it found over (epoch 0 has none: no settings were changed yet).
    std::uint32_t framerEpoch_ = 0;
    std::uint32_t residueOverEpoch_ = 0;
    // Used by the reader alone, for the whole life of the link; started afresh whenever the line
    // settings change, since a message cut off at the old settings would otherwise swallow the
    // first one at the new settings.
    StreamFramer framer_;
};

}  // namespace kestrune
