#include "app/port_chooser.h"

#include <QSocketNotifier>
#include <filesystem>
#include <utility>

#include "app/settings_window.h"
#include "app/startup.h"
#include "link/port_names.h"
#include "link/receiver_link.h"

namespace kestrune {

namespace {

constexpr char kGone[] = " (gone)";
constexpr char kVirtual[] = " (virtual receiver)";
constexpr char kGoneStatus[] = "  Port %1 is gone: plug it back in or choose another";
constexpr char kBusyStatus[] = "  Port busy: held by %1";
constexpr char kNotSerialStatus[] = "  %1 is not a serial port";
constexpr char kOwnTerminalStatus[] =
    "  %1 is your own terminal, the one the program runs from: choose the receiver's port";
constexpr char kBadNameStatus[] = "  Not a port name: %1";
constexpr char kNotWrittenStatus[] = "  Port %1 not chosen: the settings file %2 cannot be written";
constexpr char kNoListingStatus[] = "  The device list could not be read: %1";
constexpr char kReadyStatus[] = "  Ready";

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

QString listedText(const ListedPort& port) {
    const std::string what = port.description();
    return fromStd(fileName(port.device) + (what.empty() ? "" : " (" + what + ")"));
}

}  // namespace

PortChooser::PortChooser(ReceiverLink& link, SettingsWindow& window, QString storePath)
    : link_(link), window_(window), storePath_(std::move(storePath)) {
    connect(&window_, &SettingsWindow::portChosen, this, &PortChooser::choose);
    monitor_ = DeviceMonitor::start();
    if (monitor_ != nullptr) {
        notifier_ = new QSocketNotifier(monitor_->fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &PortChooser::onDevicesChanged);
    }
    // A survey comes on the lister's thread and is shown on the window's. It crosses behind a
    // lock, not inside the queued call, whose hand-over a thread checker cannot see; a wake
    // still queued when this object goes is dropped with it.
    connect(this, &PortChooser::surveyCame, this, &PortChooser::takeSurvey, Qt::QueuedConnection);
    lister_ = std::make_unique<PortLister>([this](PortSurvey survey) {
        {
            const std::lock_guard lock(surveyMutex_);
            pendingSurvey_ = std::move(survey);
        }
        emit surveyCame();
    });
    window_.showPort(describe(link_.portName()));
    refresh();
}

PortChooser::~PortChooser() = default;

void PortChooser::refresh() {
    lister_->request(portDevicePath(link_.portName()));
}

void PortChooser::takeSurvey() {
    std::optional<PortSurvey> survey;
    {
        const std::lock_guard lock(surveyMutex_);
        survey = std::exchange(pendingSurvey_, std::nullopt);
    }
    // An earlier wake took this survey along with its own.
    if (survey) {
        onSurvey(*survey);
    }
}

void PortChooser::onSurvey(const PortSurvey& survey) {
    ports_ = survey.listing.ports;
    listingFailure_ = survey.listing.failure;
    surveyedDevice_ = survey.device;
    holder_ = survey.holder;
    QStringList texts;
    QStringList names;
    for (const ListedPort& port : ports_) {
        texts << listedText(port);
        names << fromStd(port.stableName());
    }
    window_.setPortChoices(texts, names);
    if (!window_.portBeingTyped()) {
        window_.showPort(describe(link_.portName()));
    }
    emit listed();
    // A running command owns the link; it reopens a port that came back itself, and says why
    // when it cannot.
    if (window_.isBusy()) {
        return;
    }
    if (!listingFailure_.empty()) {
        window_.setStatus(QString::fromLatin1(kNoListingStatus).arg(fromStd(listingFailure_)));
        return;
    }
    // The link keeps a port that went away as it was; once the device is back it opens again.
    const std::string device = portDevicePath(link_.portName());
    if (findListedPort(ports_, device) && (!link_.isOpen() || link_.deviceGone()) && link_.open()) {
        window_.setStatus(QString::fromLatin1(kReadyStatus));
    }
    sayProblem();
}

QString PortChooser::describe(const std::string& portName) const {
    const std::string device = portDevicePath(portName);
    if (device.empty()) {
        const std::optional<PortName> parsed = parsePortName(portName);
        const bool virtualReceiver = parsed && parsed->kind == PortKind::Virtual;
        return fromStd(portName) + (virtualReceiver ? QString::fromLatin1(kVirtual) : QString{});
    }
    if (const std::optional<ListedPort> listed = findListedPort(ports_, device)) {
        return listedText(*listed);
    }
    std::error_code error;
    return fromStd(fileName(device)) +
           (std::filesystem::exists(device, error) ? QString{} : QString::fromLatin1(kGone));
}

void PortChooser::onDevicesChanged() {
    if (monitor_->drain()) {
        refresh();
    }
}

void PortChooser::choose(const QString& name) {
    switch (storePortName(link_, name, storePath_)) {
        case StoreResult::NotAPortName:
            window_.showPort(describe(link_.portName()));
            window_.setStatus(QString::fromLatin1(kBadNameStatus).arg(name));
            return;
        case StoreResult::NotWritten:
            window_.showPort(describe(link_.portName()));
            window_.setStatus(QString::fromLatin1(kNotWrittenStatus).arg(name, storePath_));
            return;
        case StoreResult::Stored:
            break;
    }
    if (!link_.isOpen()) {
        (void)link_.open();
    }
    window_.showPort(describe(link_.portName()));
    window_.showReceiverIdentity({});
    window_.setStatus(QString::fromLatin1(kReadyStatus));
    sayProblem();
    refresh();
}

void PortChooser::showProblem() {
    sayProblem();
    refresh();
}

// Only what keeps the port from opening is said; an open port leaves the status as it is.
void PortChooser::sayProblem() {
    if (link_.isOpen() && !link_.deviceGone()) {
        return;
    }
    const std::string device = portDevicePath(link_.portName());
    const QString shown = fromStd(fileName(device.empty() ? link_.portName() : device));
    switch (link_.openError()) {
        case OpenError::Busy: {
            const std::optional<PortHolder> holder =
                device == surveyedDevice_ ? holder_ : std::nullopt;
            window_.setStatus(QString::fromLatin1(kBusyStatus).arg(fromStd(holderText(holder))));
            return;
        }
        case OpenError::OwnTerminal:
            window_.setStatus(QString::fromLatin1(kOwnTerminalStatus).arg(shown));
            return;
        case OpenError::NotSerialPort:
        case OpenError::NotATerminal:
            window_.setStatus(QString::fromLatin1(kNotSerialStatus).arg(shown));
            return;
        default:
            break;
    }
    if (!device.empty() && !findListedPort(ports_, device)) {
        window_.setStatus(QString::fromLatin1(kGoneStatus).arg(shown));
    }
}

}  // namespace kestrune
