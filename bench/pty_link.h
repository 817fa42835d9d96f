// A link reading one side of a pseudo-terminal, for the benchmarks that time the real serial
// layer; the benchmark holds the other side.
#pragma once

#include <memory>

#include "link/receiver_link.h"
#include "tests/support/pseudo_terminal.h"

namespace kestrune::bench {

// An open link on the terminal's slave side at the real timing, or nothing.
inline std::unique_ptr<ReceiverLink> openLinkOn(const test::PseudoTerminal& pty) {
    if (!pty.ready()) {
        return nullptr;
    }
    auto link = std::make_unique<ReceiverLink>(
        Timing{}, [&pty](std::string_view) { return openSerialDevice(pty.slavePath()); });
    return link->open() ? std::move(link) : nullptr;
}

}  // namespace kestrune::bench
