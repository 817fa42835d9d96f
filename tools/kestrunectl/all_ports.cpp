#include "tools/kestrunectl/all_ports.h"

#include <cstdio>
#include <memory>
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

void searchPort(PortSearch& search, const Invocation& invocation) {
    ReceiverLink& link = *search.link;
    link.setWindow(&search.sink);
    link.setPortName(search.port.device);
    if (!link.isOpen()) {
        search.openError = link.openError();
        return;
    }
    SearchOptions options;
    options.fullPassWhenSilent = invocation.thorough;
    search.outcome = findReceiver(link, options);
    if (search.outcome == SearchOutcome::Found) {
        ReceiverReport& report = search.report;
        report.port = search.port.device;
        report.line = link.verifiedSettings().value_or(LineSettings{});
        report.protocol = link.outputProtocol();
        report.withSentences = invocation.command == Command::Show;
        report.aliases = search.port.aliases;
        report.answersTsip = true;
        if (search.report.withSentences) {
            search.report.sentences = readSelection(link, search.sink);
        }
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
    } else if (search.outcome == SearchOutcome::NotTsip) {
        say(device + ": NMEA from a device that does not answer TSIP");
    } else if (search.outcome == SearchOutcome::Silent) {
        say(device + ": silent, no byte in the quick pass; --thorough searches it fully");
    } else {
        say(device + ": no receiver answered");
    }
}

std::vector<std::unique_ptr<PortSearch>> plannedSearches(const Invocation& invocation) {
    std::vector<std::unique_ptr<PortSearch>> searches;
    for (ListedPort& port : listSerialPorts(PortScope::Usable)) {
        auto search = std::make_unique<PortSearch>();
        search->skipped = searchable(port) ? std::string{} : portState(port);
        search->port = std::move(port);
        search->link =
            std::make_unique<ReceiverLink>(Timing{}.scaled(invocation.timeScale), openSerialPort);
        searches.push_back(std::move(search));
    }
    return searches;
}

// One thread per port that may be searched; a thread that cannot be had searches nothing.
void searchAll(std::vector<std::unique_ptr<PortSearch>>& searches, const Invocation& invocation) {
    std::vector<std::thread> threads;
    for (const auto& search : searches) {
        if (!search->skipped.empty()) {
            continue;
        }
        try {
            threads.emplace_back(
                [&search = *search, &invocation] { searchPort(search, invocation); });
        } catch (const std::system_error&) {
            search->skipped = "no thread could be started for it";
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace

int runAllPorts(const Invocation& invocation) {
    std::vector<std::unique_ptr<PortSearch>> searches = plannedSearches(invocation);
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
    for (const auto& search : searches) {
        if (search->outcome != SearchOutcome::Found) {
            // An interrupted search says nothing of ports it had no time to hear out.
            if (!interrupts.interrupted()) {
                sayWhy(*search);
            }
            continue;
        }
        found = true;
        const ReceiverReport& report = search->report;
        written = writeOut(invocation.json ? reportJson(report) : reportText(report)) && written;
    }
    if (interrupts.interrupted()) {
        return kExitSignalBase + interrupts.signal();
    }
    if (!written) {
        return kExitOutputClosed;
    }
    return found ? kExitDone : kExitNoAnswer;
}

}  // namespace kestrune::ctl
