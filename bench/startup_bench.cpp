// The window's share of the program's start: from constructing the settings window, whose link
// opens a built-in virtual receiver, to the window exposed, and the memory the process holds
// with it shown. The first window pays for loading fonts and style; it is reported apart. The
// whole program's start, from exec to its window mapped on an X server, is measured by
// bench/program_start.sh.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <chrono>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include "app/settings_window.h"
#include "app/startup.h"
#include "link/receiver_link.h"
#include "sim/presets.h"

namespace {

constexpr int kIterations = 20;
constexpr int kEventSliceMs = 1;

// A kB figure of /proc/self/status, such as "VmRSS:".
double statusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == field) {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

void showAndWait(kestrune::SettingsWindow& window) {
    window.show();
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
    }
}

void windowShown(benchmark::State& state) {
    QTemporaryDir folder;
    const QString store = folder.filePath(QStringLiteral("Kestrune.conf"));
    QFile file(store);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly) || file.write("Port=SIM1:\n") <= 0) {
        state.SkipWithError("cannot write a port store");
        return;
    }
    file.close();
    kestrune::SimulatedDevices devices;
    std::optional<double> firstMs;
    double rss = 0;
    for (auto _ : state) {
        kestrune::ReceiverLink link(kestrune::Timing{}, devices.routePortNames());
        QElapsedTimer timer;
        timer.start();
        {
            kestrune::loadPortName(link, store);
            kestrune::SettingsWindow window;
            showAndWait(window);
            if (!firstMs) {
                firstMs = timer.nsecsElapsed() / 1e6;
            }
            state.PauseTiming();
            rss = statusKilobytes("VmRSS:");
        }
        link.close();  // waits out the reader's read ceiling, outside the timing
        state.ResumeTiming();
    }
    state.counters["first_window_ms"] = firstMs.value_or(0);
    state.counters["VmRSS_kB"] = rss;
    state.counters["VmHWM_kB"] = statusKilobytes("VmHWM:");
}

BENCHMARK(windowShown)->Iterations(kIterations)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
