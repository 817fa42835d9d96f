// The window's own command line: --help and --version, answered before anything else starts.
#pragma once

namespace kestrune {

// Prints the help or the version and ends the process when either is asked for; otherwise
// returns and leaves every argument to the toolkit, which takes its own options (-platform,
// -style, ...) and ignores the rest.
void answerHelpOrVersion(int& argc, char* argv[]);

}  // namespace kestrune
