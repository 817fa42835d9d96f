// A virtual receiver served on a pseudo-terminal behind a port of a made-up device tree.
#pragma once

#include <memory>
#include <string>

#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tests/support/mock_ports.h"

namespace kestrune::test {

struct ServedReceiver {
    std::unique_ptr<VirtualReceiver> receiver;
    std::unique_ptr<PtyReceiver> server;

    // Serves a receiver at settings behind the mocked port name; false when no terminal could be
    // made or put behind the port.
    bool serve(MockPorts& bed, const std::string& name, const ReceiverSettings& settings,
               double clockFactor = 1.0) {
        receiver = std::make_unique<VirtualReceiver>(settings, ReceiverBehaviour{}, clockFactor);
        server = PtyReceiver::start(*receiver);
        return server != nullptr && bed.serveFrom(name, server->slavePath());
    }
};

}  // namespace kestrune::test
