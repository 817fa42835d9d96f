#include "tools/kestrunectl/search.h"

namespace kestrune::ctl {

namespace {

bool searchPass(ReceiverLink& link, bool quick, std::string_view name, const ProbeReport& onProbe) {
    SearchPass pass{quick, ProbeRule::CheckedReply, {}};
    if (onProbe) {
        pass.onProbe = [&onProbe, name](const ProbeProgress& progress) { onProbe(name, progress); };
    }
    return searchReceiver(link, pass);
}

}  // namespace

bool findReceiver(ReceiverLink& link, const ProbeReport& onProbe) {
    if (searchPass(link, true, kQuickPass, onProbe)) {
        return true;
    }
    return !link.cancellation().raised() && searchPass(link, false, kFullPass, onProbe);
}

std::optional<NmeaMask> readSelection(ReceiverLink& link, SelectionSink& sink) {
    sink.forget();
    EventWait arrival(sink.arrived(), &link.cancellation());
    requestNmeaSelection(link);
    if (!sink.selection() && !link.cancellation().raised()) {
        (void)arrival.wait(link.timing().nmeaReportWait);
    }
    if (link.cancellation().raised()) {
        return std::nullopt;
    }
    return sink.selection();
}

}  // namespace kestrune::ctl
