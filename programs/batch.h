// graybmp with arguments: each input converted in turn, through the same conversion as the
// run without them.
#pragma once

namespace graybmp {

// The whole program: without arguments today's fixed run, else the command line's.
// Returns the exit status.
int runCommandLine(int argc, char** argv);

}  // namespace graybmp
