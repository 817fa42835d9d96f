#include "tools/kestrunectl/search.h"

#include "link/receiver_identity.h"

namespace kestrune::ctl {

std::optional<NmeaMask> readSelection(ReceiverLink& link, SelectionSink& sink,
                                      const std::function<void()>& whileTsip) {
    sink.forget();
    EventWait arrival(sink.arrived(), &link.cancellation());
    requestNmeaSelection(link, whileTsip);
    if (!sink.selection() && !link.cancellation().raised()) {
        (void)arrival.wait(link.timing().nmeaReportWait);
    }
    if (link.cancellation().raised()) {
        return std::nullopt;
    }
    return sink.selection();
}

ReceiverReport verifiedReport(const ReceiverLink& link, const std::string& port) {
    ReceiverReport report;
    report.port = port;
    report.line = link.verifiedSettings().value_or(LineSettings{});
    report.protocol = link.outputProtocol();
    return report;
}

ReceiverReport shownReport(ReceiverLink& link, SelectionSink& sink, const std::string& port,
                           bool withIdentity) {
    std::optional<ReceiverIdentity> identity;
    const std::optional<NmeaMask> selection = readSelection(link, sink, [&] {
        if (withIdentity) {
            identity = readIdentity(link);
        }
    });
    ReceiverReport report = verifiedReport(link, port);
    report.withSentences = true;
    report.sentences = selection;
    if (withIdentity) {
        report.identity = identity.value_or(ReceiverIdentity{});
    }
    return report;
}

}  // namespace kestrune::ctl
