#include "app/signal_panel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

namespace kestrune {

namespace {

constexpr char kFoldText[] = "Satellite signals";
// The scale's top: above any level a receiver reports from the open sky, so that the strongest
// bars still show their height.
constexpr std::int32_t kScaleTop = 55;
// Bars get narrower only once more satellites than this are in view; a full GPS sky rarely
// holds more.
constexpr int kSlotsAtLeast = 12;
// At most ten redraws a second.
constexpr std::chrono::milliseconds kRefreshInterval{100};
// Ageing counts in whole seconds.
constexpr std::chrono::milliseconds kAgeInterval{1000};
constexpr int kBarGap = 2;
constexpr int kSideMargin = 4;
constexpr int kTextMargin = 1;

// Light enough for dark text on top; hue by worth, and grey once unheard.
const QColor kWeakColour(0xE5, 0x73, 0x73);
const QColor kUsableColour(0xFF, 0xD5, 0x4F);
const QColor kStrongColour(0x81, 0xC7, 0x84);
const QColor kStaleColour(0xC8, 0xC8, 0xC8);
const QColor kTrackColour(0xF2, 0xF2, 0xF2);
const QColor kBandLineColour(0x80, 0x80, 0x80);

QColor colourOf(const SatelliteBar& bar) {
    if (bar.stale) {
        return kStaleColour;
    }
    switch (bar.strength) {
        case SignalStrength::Weak:
            return kWeakColour;
        case SignalStrength::Usable:
            return kUsableColour;
        case SignalStrength::Strong:
            return kStrongColour;
    }
    return kStaleColour;
}

// Wakes the window's thread to take the levels gathered since it last did.
class LevelsEvent : public QEvent {
  public:
    LevelsEvent() : QEvent(eventType()) {}
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
};

}  // namespace

SignalPanel::SignalPanel(QWidget* parent, int bodyHeight) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kSignalPanelName));
    pending_.fill(kNoLevel);
    fold_ = new QToolButton(this);
    fold_->setObjectName(QString::fromLatin1(kSignalFoldName));
    fold_->setText(QString::fromLatin1(kFoldText));
    fold_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    fold_->setAutoRaise(true);
    fold_->setArrowType(Qt::DownArrow);
    fold_->setAccessibleDescription(
        QStringLiteral("Shows or hides the signal level of each satellite the receiver hears"));
    body_ = new QWidget(this);
    body_->setAccessibleName(QString::fromLatin1(kFoldText));
    noSatellites_ = new QLabel(body_);
    noSatellites_->setObjectName(QString::fromLatin1(kNoSatellitesName));
    noSatellites_->setAlignment(Qt::AlignCenter);
    noSatellites_->setFrameShape(QFrame::StyledPanel);
    const int foldHeight = fold_->sizeHint().height();
    fold_->setGeometry(0, 0, fold_->sizeHint().width(), foldHeight);
    body_->setGeometry(kSideMargin, foldHeight, width() - 2 * kSideMargin, bodyHeight);
    resize(width(), foldHeight + bodyHeight);
    connect(fold_, &QToolButton::clicked, this, [this] { setFolded(!folded()); });
    refreshTimer_.setSingleShot(true);
    // A coarse timer may fire a little early, which would let an eleventh redraw into a second.
    refreshTimer_.setTimerType(Qt::PreciseTimer);
    refreshTimer_.setInterval(kRefreshInterval);
    connect(&refreshTimer_, &QTimer::timeout, this, &SignalPanel::refresh);
    ageTimer_.setInterval(kAgeInterval);
    connect(&ageTimer_, &QTimer::timeout, this, &SignalPanel::scheduleRefresh);
    ageTimer_.start();
    refresh();
}

void SignalPanel::post(std::uint32_t prn, std::int32_t level) {
    if (prn >= kPrns) {
        return;
    }
    {
        const std::lock_guard lock(pendingMutex_);
        pending_[prn] = std::max(level, 0);
    }
    if (!wakePosted_.exchange(true)) {
        QCoreApplication::postEvent(this, new LevelsEvent);
    }
}

bool SignalPanel::event(QEvent* event) {
    if (event->type() != LevelsEvent::eventType()) {
        return QWidget::event(event);
    }
    takeLevels();
    return true;
}

// The flag is cleared before the levels are taken: a level posted meanwhile either is taken now
// or wakes the thread again.
void SignalPanel::takeLevels() {
    wakePosted_.store(false);
    std::array<std::int32_t, kPrns> taken{};
    {
        const std::lock_guard lock(pendingMutex_);
        taken = pending_;
        pending_.fill(kNoLevel);
    }
    const SignalBoard::Clock::time_point now = SignalBoard::Clock::now();
    for (std::size_t prn = 0; prn < kPrns; ++prn) {
        if (taken[prn] != kNoLevel) {
            board_.note(static_cast<std::uint8_t>(prn), taken[prn], now);
        }
    }
    scheduleRefresh();
}

void SignalPanel::scheduleRefresh() {
    if (!refreshTimer_.isActive()) {
        refreshTimer_.start();
    }
}

void SignalPanel::setFolded(bool folded) {
    if (folded == folded_) {
        return;
    }
    folded_ = folded;
    fold_->setArrowType(folded ? Qt::RightArrow : Qt::DownArrow);
    body_->setVisible(!folded);
    emit foldedChanged(folded);
}

bool SignalPanel::folded() const {
    return folded_;
}

int SignalPanel::shownHeight() const {
    return folded() ? body_->y() : height();
}

std::vector<SignalBarView*> SignalPanel::barViews() const {
    return bars_;
}

void SignalPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    body_->resize(width() - 2 * kSideMargin, body_->height());
    refresh();
}

void SignalPanel::refresh() {
    const SignalBoard::Clock::time_point now = SignalBoard::Clock::now();
    const std::vector<SatelliteBar> bars = board_.bars(now);
    while (bars_.size() > bars.size()) {
        delete bars_.back();
        bars_.pop_back();
    }
    while (bars_.size() < bars.size()) {
        bars_.push_back(new SignalBarView(body_));
    }
    const int slotCount = std::max(kSlotsAtLeast, static_cast<int>(bars.size()));
    const int slotWidth = body_->width() / slotCount;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        bars_[i]->setGeometry(static_cast<int>(i) * slotWidth, 0, slotWidth - kBarGap,
                              body_->height());
        bars_[i]->setBar(bars[i]);
        bars_[i]->show();
    }
    noSatellites_->setGeometry(body_->rect());
    noSatellites_->setVisible(bars.empty());
    noSatellites_->setText(QString::fromStdString(noSatellitesText(board_.lastHeard(), now)));
}

SignalBarView::SignalBarView(QWidget* parent) : QWidget(parent) {}

void SignalBarView::setBar(const SatelliteBar& bar) {
    if (bar == bar_ && !accessibleName().isEmpty()) {
        return;
    }
    bar_ = bar;
    setAccessibleName(QString::fromStdString(barText(bar)));
    update();
}

// From the top: the level, the bar on its track with its worth written up it, the PRN.
void SignalBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int line = fontMetrics().height();
    const QRect levelRow(0, 0, width(), line);
    const QRect prnRow(0, height() - line, width(), line);
    const QRect track(0, line + kTextMargin, width(), height() - 2 * (line + kTextMargin));
    const int filled = track.height() * std::clamp(bar_.level, 0, kScaleTop) / kScaleTop;
    painter.fillRect(track, kTrackColour);
    painter.fillRect(track.adjusted(0, track.height() - filled, 0, 0), colourOf(bar_));
    // Where the worth changes, so that a bar's distance from the next band shows.
    painter.setPen(QPen(kBandLineColour, 0, Qt::DotLine));
    for (const std::int32_t threshold : {kUsableFromDbHz, kStrongFromDbHz}) {
        const int y = track.bottom() - track.height() * threshold / kScaleTop;
        painter.drawLine(track.left(), y, track.right(), y);
    }
    painter.setPen(
        palette().color(bar_.stale ? QPalette::Disabled : QPalette::Active, QPalette::WindowText));
    painter.drawText(levelRow, Qt::AlignCenter, QString::number(bar_.level));
    painter.drawText(prnRow, Qt::AlignCenter, QString::number(bar_.prn));
    // The word runs up the track from its foot, so that it fits however narrow the bar.
    painter.setPen(Qt::black);
    painter.translate(track.left(), track.bottom());
    painter.rotate(-90);
    painter.drawText(QRect(kTextMargin, 0, track.height(), track.width()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(strengthWord(bar_.strength)));
}

}  // namespace kestrune
