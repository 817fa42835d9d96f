#include "tools/kestrunectl/selection_sink.h"

namespace kestrune::ctl {

void SelectionSink::post(std::uint32_t message, std::uint32_t first, std::uint32_t) {
    if (message != kNotifyNmeaMask) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        selection_ = first;
    }
    arrived_.pulse();
}

void SelectionSink::forget() {
    const std::lock_guard lock(mutex_);
    selection_.reset();
}

std::optional<NmeaMask> SelectionSink::selection() const {
    const std::lock_guard lock(mutex_);
    return selection_;
}

}  // namespace kestrune::ctl
