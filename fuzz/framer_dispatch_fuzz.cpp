// Drives arbitrary receiver bytes through the framer and the reader's dispatch, with a window
// attached, so every report layout meets hostile lengths and values.
#include <cstddef>
#include <cstdint>

#include "link/receiver_link.h"
#include "protocol/stream_framer.h"

namespace {

class DiscardingSink : public kestrune::NotificationSink {
public:
    void post(std::uint32_t, std::uint32_t, std::uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DiscardingSink sink;
    static kestrune::ReceiverLink link(kestrune::Timing{}, nullptr);
    link.setWindow(&sink);
    kestrune::StreamFramer framer;
    for (std::size_t i = 0; i < size; ++i) {
        if (const auto message = framer.feed(data[i])) {
            link.dispatch(*message);
        }
    }
    return 0;
}
