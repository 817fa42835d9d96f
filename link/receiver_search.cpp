#include "link/receiver_search.h"

namespace kestrune {

namespace {

bool searchPass(ReceiverLink& link, bool quick, std::string_view name, const ProbeReport& onProbe) {
    SearchPass pass{quick, ProbeRule::CheckedReply, {}};
    if (onProbe) {
        pass.onProbe = [&onProbe, name](const ProbeProgress& progress) { onProbe(name, progress); };
    }
    return searchReceiver(link, pass);
}

}  // namespace

SearchOutcome findReceiver(ReceiverLink& link, const SearchOptions& options) {
    const std::uint64_t heardBefore = link.bytesHeard();
    if (searchPass(link, true, kQuickPass, options.onProbe)) {
        return SearchOutcome::Found;
    }
    if (link.cancellation().raised()) {
        return SearchOutcome::NotFound;
    }
    if (!options.fullPassWhenSilent && link.bytesHeard() == heardBefore) {
        return SearchOutcome::Silent;
    }
    return searchPass(link, false, kFullPass, options.onProbe) ? SearchOutcome::Found
                                                               : SearchOutcome::NotFound;
}

}  // namespace kestrune
