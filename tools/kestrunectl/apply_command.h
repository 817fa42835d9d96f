// kestrunectl apply: the declared configuration brought to the receivers it names, every
// matched port at once, one link and one thread each.
#pragma once

#include "tools/kestrunectl/command_line.h"

namespace kestrune::ctl {

// 0 when every matched receiver ends as declared, or no file or no table applies; 1 when one did
// not answer, refused or did not save; 2 for a bad file, sending nothing; 3 when a port would not
// open; 128 plus the signal when stopped.
int runApply(const Invocation& invocation);

}  // namespace kestrune::ctl
