// The output file, written under a temporary name beside the file it replaces and moved
// over it only when complete, so that readers never see a partial file and an earlier
// output survives every failure. A temporary that an interrupting signal or a failure
// leaves behind is removed; one left by a killed run keeps its ".<name>.XXXXXX" name,
// which is never the output's.
#pragma once

#include <string>

#include "platform/stream.h"

namespace graybmp {

struct OutputFile {
    std::string target;     // the file replaced: the output name, or where its links lead
    std::string temporary;  // the new file, in the target's folder; empty once gone
};

// Creates the temporary exclusively in the target's folder, with the target's permission
// bits when it exists (0666 less the umask when not), and opens `stream` on it; it is
// closed by closeAllStreams. False with errno set, and nothing created, when the target
// is a folder (EISDIR) or another file that is not a regular one (EINVAL: a device, a
// FIFO), or the temporary cannot be made.
bool outputCreate(OutputFile& file, const char* name, Stream& stream);

// Moves the complete, closed temporary over the target. False with errno set.
bool outputCommit(OutputFile& file);

// Removes the temporary, if there is one.
void outputDiscard(OutputFile& file);

// From here on SIGINT, SIGTERM and SIGHUP (Ctrl-C and closing the console on Windows)
// remove the temporary, restore the console and end the process with status 128 + the
// signal's number. A write past the file-size limit fails with EFBIG instead of killing
// the process.
void installInterruptHandlers();

// A point in the run where the test build alone stops the process (a no-op otherwise).
void testPoint();

}  // namespace graybmp
