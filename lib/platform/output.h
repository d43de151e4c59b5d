// The output file, written under a temporary name beside the file it replaces and moved
// over it only when complete, so that readers never see a partial file and an earlier
// output survives every failure. The temporary's name is ".<name>.XXXXXX", never the
// output's; `told` hears of it when it is made and when it is gone, so that a program's
// signal handler can remove it.
#pragma once

#include <string>

#include "platform/stream.h"

namespace graybmp {

struct OutputFile {
    std::string target;     // the file replaced: the output name, or where its links lead
    std::string temporary;  // the new file, in the target's folder; empty once gone
    void (*told)(void* context, const char* temporary, bool made) = nullptr;  // may be null
    void* context = nullptr;
};

// Creates the temporary exclusively in the target's folder, with the target's permission
// bits (and owner, where allowed) when it exists, 0666 less the umask when not, and opens
// `stream` on it. False with errno set, and nothing created, when the target is a folder
// (EISDIR) or another file that is not a regular one (EINVAL: a device, a FIFO), or the
// temporary cannot be made.
bool outputCreate(OutputFile& file, const char* name, Stream& stream);

// Moves the complete, closed temporary over the target. False with errno set.
bool outputCommit(OutputFile& file);

// Removes the temporary, if there is one.
void outputDiscard(OutputFile& file);

}  // namespace graybmp
