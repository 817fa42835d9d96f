#include "tools/kestrunectl/search.h"

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

}  // namespace kestrune::ctl
