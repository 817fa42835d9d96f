#include "tools/kestrunectl/all_ports.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "link/port_list.h"
#include "link/receiver_search.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/failure_text.h"
#include "tools/kestrunectl/interrupt_watcher.h"
#include "tools/kestrunectl/port_listing.h"
#include "tools/kestrunectl/receiver_report.h"
#include "tools/kestrunectl/search.h"
#include "tools/kestrunectl/session.h"

namespace kestrune::ctl {

namespace {

constexpr const char* kMessagePrefix = "kestrunectl: ";
// Ports searched at the same time. Each search is a link with its reader thread beside the
// worker, so this bounds the threads and open descriptors at 32 and 16 on a machine with a rack
// of adapters, while a usual machine (a handful of ports) still searches every port at once.
constexpr std::size_t kMostAtOnce = 16;

// One port's search. Its thread alone writes the results; they are read once it is joined.
struct PortSearch {
    ListedPort port;
    SelectionSink sink;
    std::unique_ptr<ReceiverLink> link;
    std::string skipped;  // why nothing was sent to the port
    OpenError openError = OpenError::None;
    SearchOutcome outcome = SearchOutcome::NotFound;
    ReceiverReport report;
};

// The opens take turns. Each looks its device up by path (its links, its node, udev), and the
// device test bed's preload, which redirects those lookups, keeps the redirected path in one
// buffer for every thread; an open takes milliseconds against a search's hundreds.
void searchPort(PortSearch& search, const Invocation& invocation, std::mutex& opening) {
    ReceiverLink& link = *search.link;
    // A port still waiting for a worker when the search was stopped is left untouched.
    if (link.cancellation().raised()) {
        return;
    }
    link.setWindow(&search.sink);
    {
        const std::lock_guard turn(opening);
        link.setPortName(search.port.device);
    }
    if (!link.isOpen()) {
        search.openError = link.openError();
        return;
    }
    SearchOptions options;
    options.fullPassWhenSilent = invocation.thorough;
    search.outcome = findReceiver(link, options);
    if (search.outcome == SearchOutcome::Found) {
        const std::string& device = search.port.device;
        search.report = invocation.command == Command::Show
                            ? shownReport(link, search.sink, device, true)
                            : verifiedReport(link, device);
        search.report.aliases = search.port.aliases;
        search.report.answersTsip = true;
    }
    link.close();
}

void say(const std::string& text) {
    std::fprintf(stderr, "%s%s\n", kMessagePrefix, text.c_str());
}

// What became of a port where no receiver was found, on stderr.
void sayWhy(const PortSearch& search) {
    const std::string& device = search.port.device;
    if (!search.skipped.empty()) {
        say(device + ": skipped, " + search.skipped);
    } else if (search.openError != OpenError::None) {
        say(openFailureText(PortChoice{device, device, device}, search.openError));
    } else if (search.outcome == SearchOutcome::Found) {
        say(noSelectionText(PortChoice{device, device, device}));
    } else if (search.outcome == SearchOutcome::NotTsip) {
        say(device + ": NMEA from a device that does not answer TSIP");
    } else if (search.outcome == SearchOutcome::Silent) {
        say(device + ": silent, no byte in the quick pass; --thorough searches it fully");
    } else {
        say(device + ": no receiver answered");
    }
}

std::vector<std::unique_ptr<PortSearch>> plannedSearches(const Invocation& invocation,
                                                         PortListing listing) {
    std::vector<std::unique_ptr<PortSearch>> searches;
    for (ListedPort& port : listing.ports) {
        auto search = std::make_unique<PortSearch>();
        search->skipped = searchable(port) ? std::string{} : portState(port);
        search->port = std::move(port);
        search->link =
            std::make_unique<ReceiverLink>(Timing{}.scaled(invocation.timeScale), openSerialPort);
        searches.push_back(std::move(search));
    }
    return searches;
}

// Each worker takes the next port not yet taken until none is left. A worker that cannot be
// started leaves its share to the others; with none started, nothing is searched.
void searchAll(std::vector<std::unique_ptr<PortSearch>>& searches, const Invocation& invocation) {
    std::vector<PortSearch*> waiting;
    for (const auto& search : searches) {
        if (search->skipped.empty()) {
            waiting.push_back(search.get());
        }
    }
    std::atomic<std::size_t> next{0};
    std::mutex opening;
    const auto work = [&] {
        for (std::size_t i = next++; i < waiting.size(); i = next++) {
            searchPort(*waiting[i], invocation, opening);
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t started = 0; started < std::min(waiting.size(), kMostAtOnce); ++started) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (workers.empty()) {
        for (PortSearch* search : waiting) {
            search->skipped = "no thread could be started for it";
        }
    }
}

}  // namespace

int runAllPorts(const Invocation& invocation) {
    PortListing listing = listSerialPorts(PortScope::Usable);
    if (!listing.failure.empty()) {
        say(listingFailureText(listing.failure));
        return kExitNoAnswer;
    }
    std::vector<std::unique_ptr<PortSearch>> searches =
        plannedSearches(invocation, std::move(listing));
    if (searches.empty()) {
        say("no serial port found; plug the receiver in, then run kestrunectl ports");
        return kExitNoAnswer;
    }
    InterruptWatcher interrupts;
    interrupts.setAction([&searches] {
        for (const auto& search : searches) {
            search->link->cancel();
        }
    });
    searchAll(searches, invocation);
    interrupts.setAction({});
    bool found = false;
    bool written = true;
    bool complete = true;
    for (const auto& search : searches) {
        const ReceiverReport& report = search->report;
        const bool reported = search->outcome == SearchOutcome::Found &&
                              (!report.withSentences || report.sentences.has_value());
        complete = complete && (reported || search->outcome != SearchOutcome::Found);
        if (search->outcome == SearchOutcome::Found) {
            found = true;
            written =
                writeOut(invocation.json ? reportJson(report) : reportText(report)) && written;
        }
        // An interrupted search says nothing of ports it had no time to hear out.
        if (!reported && !interrupts.interrupted()) {
            sayWhy(*search);
        }
    }
    if (interrupts.interrupted()) {
        return kExitSignalBase + interrupts.signal();
    }
    if (!written) {
        return kExitOutputClosed;
    }
    return found && complete ? kExitDone : kExitNoAnswer;
}

}  // namespace kestrune::ctl
