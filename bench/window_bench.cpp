// The window's thread while a command runs, at the receiver's real timing:
//   windowBusyDuringSearch  the longest stretch the window's thread is busy (the longest gap
//                           between the ticks of a 1 ms timer) while Get Settings searches the
//                           silent SIM4 to its end, about 36 s;
//   getSettingsSIM1/SIM2    Get Settings from the press to the settings shown, on the factory
//                           receiver and on the one streaming NMEA at 4800 bits/s;
//   windowBusyWhileLevelsArrive
//                           the longest stretch the window's thread is busy while SIM1, found,
//                           sends its signal levels every second and answers the panel's poll,
//                           for 20 s, both as the longest gap between ticks (which a loaded
//                           machine stretches by preemption) and as the most CPU time the
//                           thread spent on one event; with the paints of one bar a second;
//   panelUnderFloodedLevels a report of seven changing levels every 5 ms for 5 s, straight into
//                           the window: the paints of one bar a second, which the panel holds
//                           to ten, and the most CPU time spent on one event;
//   closeToExit             from the close box, two seconds into such a search, to the
//                           program's exit: this binary runs itself as the program (the same
//                           objects as main, in the same order) and the parent waits for it;
//   windowBusyOverPlugs     the longest stretch the window's thread is busy from the port row's
//                           start to its first listing of 64 mocked USB ports, and over ten
//                           adapters plugged in one after another, each until the row lists it,
//                           as tick gaps and as the longest event handled. Needs the device
//                           test bed's preload (umockdev-wrapper).
#include <benchmark/benchmark.h>

// Ahead of Qt, whose keyword macros would rewrite GLib's headers.
#include "tests/support/mock_ports.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "app/port_chooser.h"
#include "app/settings_controller.h"
#include "app/settings_window.h"
#include "app/signal_panel.h"
#include "app/signal_poller.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSilentPort[] = "SIM4";
constexpr int kTickMs = 1;
constexpr int kCloseAfterMs = 2000;
constexpr int kCloseRuns = 5;
constexpr char kProgramOption[] = "--run-as-program";
constexpr char kSelf[] = "/proc/self/exe";
constexpr double kNsPerMs = 1e6;

constexpr int kGetSettingsRuns = 3;
constexpr int kMockedPorts = 64;
constexpr int kPlugEvents = 10;
// A bound on each wait for the row to follow, never reached when all is well.
constexpr int kListingWaitMs = 10000;
constexpr int kLevelsWatchMs = 20000;
constexpr double kMsPerS = 1000.0;
constexpr int kFloodEveryMs = 5;
constexpr int kFloodForMs = 5000;
constexpr std::uint32_t kFloodSatellites = 7;
constexpr std::uint32_t kFloodLevels = 50;
constexpr char kShownStatus[] = "  Receiver set to";

// The window and its controller on a link to a virtual receiver, at real timing, as main builds
// them.
struct Program {
    kestrune::SimulatedDevices devices;
    kestrune::ReceiverLink link{kestrune::Timing{}, devices.routePortNames()};
    kestrune::SettingsWindow window;
    kestrune::SettingsController controller{link, window};

    explicit Program(const char* port = kSilentPort) {
        link.setPortName(port);
        window.show();
    }

    // Runs the window's loop until the running command has finished.
    void waitForCommand() {
        QEventLoop loop;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!controller.running()) {
                loop.quit();
            }
        });
        watcher.start(kTickMs);
        loop.exec();
    }
};

// From the press to the settings shown; a fresh receiver each run, as at a program's start.
void getSettingsOn(benchmark::State& state, const char* port) {
    double slowestS = 0;
    for (auto _ : state) {
        Program program(port);
        const auto start = Clock::now();
        program.controller.getSettings();
        program.waitForCommand();
        const std::chrono::duration<double> took = Clock::now() - start;
        if (!program.window.status().startsWith(QLatin1String(kShownStatus))) {
            state.SkipWithError("Get Settings did not show the receiver");
            return;
        }
        slowestS = std::max(slowestS, took.count());
        state.SetIterationTime(took.count());
    }
    state.counters["slowest_s"] = slowestS;
}

void windowBusyDuringSearch(benchmark::State& state) {
    for (auto _ : state) {
        Program program;
        QElapsedTimer sinceTick;
        qint64 longestGapNs = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
            sinceTick.start();
        });
        QEventLoop loop;
        QTimer::singleShot(0, &program.controller, [&] {
            program.controller.getSettings();
            sinceTick.start();
            ticker.start(kTickMs);
        });
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!program.controller.running()) {
                loop.quit();
            }
        });
        watcher.start(kTickMs);
        loop.exec();
        state.counters["longest_busy_ms"] = longestGapNs / kNsPerMs;
        state.counters["status_is_not_found"] =
            program.window.status() == QLatin1String(kestrune::kNotFoundStatus) ? 1 : 0;
    }
}

qint64 threadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Times each event the window's thread handles, outermost only, both by the clock and in the
// thread's CPU time: on a loaded machine the clock also holds the time the thread waited for a
// core, the CPU time does not.
class TimedApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        const auto start = Clock::now();
        const qint64 startCpu = threadCpuNs();
        const bool handled = QApplication::notify(receiver, event);
        longestEventCpuNs = std::max(longestEventCpuNs, threadCpuNs() - startCpu);
        longest_ = std::max(longest_, Clock::now() - start);
        --depth_;
        return handled;
    }
    static TimedApplication& instance() {
        return *static_cast<TimedApplication*>(QCoreApplication::instance());
    }
    // The longest event by the clock since the last call.
    double takeLongestMs() {
        return std::chrono::duration<double, std::milli>(std::exchange(longest_, {})).count();
    }
    qint64 longestEventCpuNs = 0;

  private:
    int depth_ = 0;
    Clock::duration longest_{};
};

// The longest gap between the ticks of a 1 ms timer on the window's thread.
class BusyMeter {
  public:
    BusyMeter() {
        ticker_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
    }
    void restart() {
        longestNs_ = 0;
        since_.start();
        ticker_.start(kTickMs);
    }
    // Taken at the end of a stretch too, so one still under way counts.
    double longestMs() {
        tick();
        return static_cast<double>(longestNs_) / kNsPerMs;
    }
    // Leaves out what the bench itself does on the window's thread (plugging a mocked port).
    template <typename Work>
    auto outside(Work work) {
        tick();
        auto result = work();
        since_.start();
        return result;
    }

  private:
    void tick() {
        longestNs_ = std::max(longestNs_, since_.nsecsElapsed());
        since_.start();
    }
    QTimer ticker_;
    QElapsedTimer since_;
    qint64 longestNs_ = 0;
};

// Runs the window's loop until done holds; false when it did not within the bound.
template <typename Done>
bool runUntil(Done done) {
    QEventLoop loop;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer::singleShot(kListingWaitMs, &loop, &QEventLoop::quit);
    watcher.start(kTickMs);
    loop.exec();
    return done();
}

bool addMockedUsb(kestrune::test::MockPorts& bed, int number) {
    return bed.addUsb({"ttyUSB" + std::to_string(number), "usbserial_generic", "USB Serial Adapter",
                       "EX" + std::to_string(number)},
                      kestrune::test::kUsbSerialMajor, number, number + 1);
}

void windowBusyOverPlugs(benchmark::State& state) {
    for (auto _ : state) {
        kestrune::test::MockPorts bed;
        if (!kestrune::test::MockPorts::active()) {
            state.SkipWithError("needs umockdev-wrapper");
            return;
        }
        for (int number = 0; number < kMockedPorts; ++number) {
            if (!addMockedUsb(bed, number)) {
                state.SkipWithError("a mocked port could not be added");
                return;
            }
        }
        Program program("SIM1");
        const QTemporaryDir folder;
        const auto* row = program.window.findChild<QComboBox*>(QStringLiteral("IDC_PORT"));
        BusyMeter meter;
        std::unique_ptr<kestrune::PortChooser> chooser;
        TimedApplication& application = TimedApplication::instance();
        QTimer::singleShot(0, &program.window, [&] {
            meter.restart();
            (void)application.takeLongestMs();
            chooser = std::make_unique<kestrune::PortChooser>(
                program.link, program.window, folder.filePath(QStringLiteral("Kestrune.conf")));
        });
        if (!runUntil([&] { return row->count() == kMockedPorts; })) {
            state.SkipWithError("the first listing never came");
            return;
        }
        state.counters["start_longest_busy_ms"] = meter.longestMs();
        state.counters["start_longest_event_ms"] = application.takeLongestMs();
        meter.restart();
        for (int plug = 0; plug < kPlugEvents; ++plug) {
            const int listed = kMockedPorts + plug + 1;
            if (!meter.outside([&] { return addMockedUsb(bed, kMockedPorts + plug); }) ||
                !runUntil([&] { return row->count() == listed; })) {
                state.SkipWithError("a plugged port was not listed");
                return;
            }
        }
        state.counters["plugs_longest_busy_ms"] = meter.longestMs();
        state.counters["plugs_longest_event_ms"] = application.takeLongestMs();
    }
}

// Counts the paint events of what it filters.
struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

void windowBusyWhileLevelsArrive(benchmark::State& state) {
    for (auto _ : state) {
        Program program("SIM1");
        const kestrune::SignalPoller poller(program.link, program.controller, program.window);
        program.controller.getSettings();
        program.waitForCommand();
        BusyMeter busy;
        PaintCounter counter;
        bool counting = false;
        QEventLoop loop;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            const std::vector<kestrune::SignalBarView*> bars =
                program.window.signalPanel().barViews();
            if (!counting && !bars.empty()) {
                bars.front()->installEventFilter(&counter);
                counting = true;
            }
        });
        auto* meter = &TimedApplication::instance();
        busy.restart();
        watcher.start(kTickMs);
        QTimer::singleShot(kLevelsWatchMs, &loop, &QEventLoop::quit);
        meter->longestEventCpuNs = 0;
        loop.exec();
        state.counters["longest_busy_ms"] = busy.longestMs();
        state.counters["longest_event_cpu_ms"] = meter->longestEventCpuNs / kNsPerMs;
        state.counters["bar_paints_per_s"] = counter.paints * kMsPerS / kLevelsWatchMs;
        state.counters["bars"] =
            static_cast<double>(program.window.signalPanel().barViews().size());
    }
}

void panelUnderFloodedLevels(benchmark::State& state) {
    for (auto _ : state) {
        kestrune::SettingsWindow window;
        window.show();
        std::uint32_t round = 0;
        QTimer flood;
        QObject::connect(&flood, &QTimer::timeout, [&] {
            ++round;
            for (std::uint32_t prn = 1; prn <= kFloodSatellites; ++prn) {
                window.post(kestrune::kNotifySignalLevel, prn, (round + prn) % kFloodLevels);
            }
        });
        PaintCounter counter;
        bool counting = false;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            const std::vector<kestrune::SignalBarView*> bars = window.signalPanel().barViews();
            if (!counting && !bars.empty()) {
                bars.front()->installEventFilter(&counter);
                counting = true;
            }
        });
        auto* meter = &TimedApplication::instance();
        QEventLoop loop;
        flood.start(kFloodEveryMs);
        watcher.start(kTickMs);
        QTimer::singleShot(kFloodForMs, &loop, &QEventLoop::quit);
        meter->longestEventCpuNs = 0;
        loop.exec();
        state.counters["reports_per_s"] = round * kMsPerS / kFloodForMs;
        state.counters["bar_paints_per_s"] = counter.paints * kMsPerS / kFloodForMs;
        state.counters["longest_event_cpu_ms"] = meter->longestEventCpuNs / kNsPerMs;
    }
}

// The program, with main's objects in main's order: the search starts at once, and the close
// box is used two seconds later. The moment of the close goes to stdout for the parent, as
// nanoseconds of the steady clock.
int runAsProgram(int argc, char* argv[]) {
    kestrune::SimulatedDevices devices;
    kestrune::ReceiverLink link(kestrune::Timing{}, devices.routePortNames());
    QApplication application(argc, argv);
    link.setPortName(kSilentPort);
    kestrune::SettingsWindow window;
    const kestrune::SettingsController controller(link, window);
    QTimer::singleShot(0, &window, [&] { window.getSettingsPressed(); });
    QTimer::singleShot(kCloseAfterMs, &window, [&] {
        const auto closedAt = Clock::now().time_since_epoch().count();
        std::printf("%lld\n", static_cast<long long>(closedAt));
        std::fflush(stdout);
        QCloseEvent closeBox;
        QCoreApplication::sendEvent(window.windowHandle(), &closeBox);
    });
    return window.exec();
}

void closeToExit(benchmark::State& state) {
    double worstMs = 0;
    for (auto _ : state) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeEnds[1], STDOUT_FILENO);
            ::execl(kSelf, kSelf, kProgramOption, static_cast<char*>(nullptr));
            ::_exit(1);
        }
        ::close(pipeEnds[1]);
        FILE* fromChild = ::fdopen(pipeEnds[0], "r");
        long long closedAt = 0;
        const bool told = std::fscanf(fromChild, "%lld", &closedAt) == 1;
        int status = 0;
        ::waitpid(child, &status, 0);
        const auto exitedAt = Clock::now().time_since_epoch().count();
        std::fclose(fromChild);
        if (!told || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not close cleanly with status 0");
            return;
        }
        const double ms = static_cast<double>(exitedAt - closedAt) / kNsPerMs;
        worstMs = std::max(worstMs, ms);
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["worst_ms"] = worstMs;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc > 1 && std::strcmp(argv[1], kProgramOption) == 0) {
        return runAsProgram(argc, argv);
    }
    TimedApplication application(argc, argv);
    benchmark::RegisterBenchmark("windowBusyDuringSearch", windowBusyDuringSearch)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("windowBusyWhileLevelsArrive", windowBusyWhileLevelsArrive)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("panelUnderFloodedLevels", panelUnderFloodedLevels)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    for (const char* port : {"SIM1", "SIM2"}) {
        benchmark::RegisterBenchmark((std::string("getSettings") + port).c_str(), getSettingsOn,
                                     port)
            ->Iterations(kGetSettingsRuns)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("windowBusyOverPlugs", windowBusyOverPlugs)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("closeToExit", closeToExit)
        ->Iterations(kCloseRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
