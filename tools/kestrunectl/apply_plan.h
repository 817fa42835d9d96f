// Which table of the declared configuration applies to which port.
#pragma once

#include <string>
#include <vector>

#include "link/port_list.h"
#include "tools/kestrunectl/receivers_file.h"

namespace kestrune::ctl {

struct ApplyTarget {
    ListedPort port;
    DeclaredReceiver table;
    // Only the default table matched: a port with nothing on it is no failure then.
    bool byDefault = false;
};

bool tableMatches(const DeclaredReceiver& table, const ListedPort& port);

// The one table for port: the receiver's table that matches it, else the default table, else
// none. Two receivers' tables matching it make the file bad; problem then says so, as
// "path:line: what".
std::optional<ApplyTarget> targetFor(const ReceiversFile& file, const ListedPort& port,
                                     std::string& problem);

// The targets among ports, in their order; nothing, with problem, when the file is bad for any
// of them. Every port is checked, so a file is refused the same way whichever device is asked.
std::optional<std::vector<ApplyTarget>> planTargets(const ReceiversFile& file,
                                                    const std::vector<ListedPort>& ports,
                                                    std::string& problem);

}  // namespace kestrune::ctl
