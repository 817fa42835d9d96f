#include "tools/kestrunectl/apply_command.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "link/serial_device.h"
#include "tools/kestrunectl/apply_report.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/interrupt_watcher.h"
#include "tools/kestrunectl/session.h"

namespace kestrune::ctl {

namespace {

// One port's run. Its thread alone writes the application; it is read once the thread is joined.
struct PortRun {
    ApplyTarget target;
    SelectionSink sink;
    std::unique_ptr<ReceiverLink> link;
    PortApplication application;
};

void say(const std::string& text) {
    std::fprintf(stderr, "kestrunectl: %s\n", text.c_str());
}

// The ports a table may match: every listed one, and the asked device when udev does not list it.
PortListing candidatePorts(const std::optional<std::string>& device) {
    PortListing listing = listSerialPorts(PortScope::Usable);
    std::vector<ListedPort>& ports = listing.ports;
    if (device && !findListedPort(ports, *device)) {
        ListedPort unlisted;
        unlisted.device = resolveDeviceLinks(*device).value_or(*device);
        unlisted.accessible = ::access(unlisted.device.c_str(), R_OK | W_OK) == 0;
        unlisted.holder = findPortHolder(unlisted.device);
        ports.push_back(std::move(unlisted));
    }
    return listing;
}

void runAll(std::vector<std::unique_ptr<PortRun>>& runs, const Invocation& invocation) {
    std::vector<std::thread> threads;
    for (const auto& run : runs) {
        std::optional<HandoverOptions> gpsd;
        if (!invocation.noGpsd) {
            ReceiverLink* link = run->link.get();
            gpsd = HandoverOptions{invocation.gpsdSocket,
                                   [link] { return link->cancellation().raised(); }, say};
        }
        try {
            threads.emplace_back([&run = *run, dryRun = invocation.dryRun, gpsd] {
                run.application = applyToPort(*run.link, run.sink, run.target, dryRun, gpsd);
            });
        } catch (const std::system_error&) {
            run->application = PortApplication{run->target, ApplyResult::Failed};
            run->application.problem = "no thread could be started for it";
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// The more serious status: a port that would not open, then a receiver that failed.
int worse(int one, int other) {
    const auto rank = [](int status) {
        return status == kExitPortFailed ? 2 : status == kExitNoAnswer ? 1 : 0;
    };
    return rank(other) > rank(one) ? other : one;
}

// The targets to run, or the exit status when there is nothing to run.
std::variant<std::vector<ApplyTarget>, int> chooseTargets(const Invocation& invocation) {
    const bool ownFile = invocation.configFile.has_value();
    const std::string path = invocation.configFile.value_or(kReceiversFile);
    std::error_code error;
    if (!ownFile && !std::filesystem::exists(path, error)) {
        say("no " + path + "; nothing to apply");
        return kExitDone;
    }
    std::string problem;
    const std::optional<ReceiversFile> file = readReceiversFile(path, problem);
    const PortListing listing = candidatePorts(invocation.device);
    if (!listing.failure.empty() && !invocation.device) {
        say(listingFailureText(listing.failure));
        return kExitPortFailed;
    }
    const std::vector<ListedPort>& ports = listing.ports;
    const std::optional<std::vector<ApplyTarget>> targets =
        file ? planTargets(*file, ports, problem) : std::nullopt;
    if (!targets) {
        say(problem + "; nothing was sent");
        return kExitUsage;
    }
    std::vector<ApplyTarget> chosen;
    const std::optional<ListedPort> asked =
        invocation.device ? findListedPort(ports, *invocation.device) : std::nullopt;
    for (const ApplyTarget& target : *targets) {
        if (!asked || target.port.device == asked->device) {
            chosen.push_back(target);
        }
    }
    if (chosen.empty()) {
        say("no table of " + path + " matches " + invocation.device.value_or("any listed port") +
            "; nothing to apply");
        return kExitDone;
    }
    return chosen;
}

}  // namespace

int runApply(const Invocation& invocation) {
    std::variant<std::vector<ApplyTarget>, int> chosen = chooseTargets(invocation);
    if (const int* status = std::get_if<int>(&chosen)) {
        return *status;
    }
    std::vector<std::unique_ptr<PortRun>> runs;
    for (ApplyTarget& target : std::get<std::vector<ApplyTarget>>(chosen)) {
        auto run = std::make_unique<PortRun>();
        run->target = std::move(target);
        run->link =
            std::make_unique<ReceiverLink>(Timing{}.scaled(invocation.timeScale), openSerialPort);
        runs.push_back(std::move(run));
    }
    InterruptWatcher interrupts;
    interrupts.setAction([&runs] {
        for (const auto& run : runs) {
            run->link->cancel();
        }
    });
    runAll(runs, invocation);
    interrupts.setAction({});
    int status = kExitDone;
    bool written = true;
    for (const auto& run : runs) {
        const PortApplication& application = run->application;
        written = writeOut(invocation.json ? applicationJson(application)
                                           : applicationText(application)) &&
                  written;
        status = worse(status, applyStatus(application));
    }
    if (interrupts.interrupted()) {
        return kExitSignalBase + interrupts.signal();
    }
    return written ? status : kExitOutputClosed;
}

}  // namespace kestrune::ctl
