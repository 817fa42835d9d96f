// The window's signal panel: one bar per satellite heard, in PRN order on a fixed scale, each
// coloured and labelled by its worth, greyed when it goes unheard; a line of text when there is
// no satellite to show. A button above folds it away.
//
// Levels arrive from the reader thread one satellite at a time. They are gathered here and the
// window's thread is woken once for all that came since it last took them; the bars are then
// redrawn at most ten times a second, however fast the levels come.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "app/signal_board.h"

class QLabel;
class QToolButton;

namespace kestrune {

class SignalBarView;

// The panel's parts, by objectName.
inline constexpr char kSignalPanelName[] = "signalPanel";
inline constexpr char kSignalFoldName[] = "signalFold";
inline constexpr char kNoSatellitesName[] = "noSatellites";

class SignalPanel : public QWidget {
    Q_OBJECT

  public:
    // bodyHeight: the height of the bars' area, shown while unfolded.
    SignalPanel(QWidget* parent, int bodyHeight);

    // From any thread, at once: one satellite's level, for the window's thread to show.
    void post(std::uint32_t prn, std::int32_t level);

    void setFolded(bool folded);
    bool folded() const;
    // The height the panel takes up as it stands: the fold button alone while folded.
    int shownHeight() const;
    // The bars shown, in order; for tests and the window's owner.
    std::vector<SignalBarView*> barViews() const;

  signals:
    void foldedChanged(bool folded);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void takeLevels();
    void scheduleRefresh();
    void refresh();

    bool folded_ = false;
    QToolButton* fold_ = nullptr;
    QWidget* body_ = nullptr;
    QLabel* noSatellites_ = nullptr;
    std::vector<SignalBarView*> bars_;
    SignalBoard board_;
    QTimer refreshTimer_;
    QTimer ageTimer_;

    // Levels not yet taken, by PRN; kNoLevel where none came.
    static constexpr std::int32_t kNoLevel = -1;
    static constexpr std::size_t kPrns = 256;
    std::mutex pendingMutex_;
    std::array<std::int32_t, kPrns> pending_{};
    // Set while a wake-up is on its way to the window's thread.
    std::atomic<bool> wakePosted_{false};
};

// One satellite's bar; its accessible name says what the bar shows.
class SignalBarView : public QWidget {
    Q_OBJECT

  public:
    explicit SignalBarView(QWidget* parent);
    void setBar(const SatelliteBar& bar);
    const SatelliteBar& bar() const { return bar_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    SatelliteBar bar_;
};

}  // namespace kestrune
