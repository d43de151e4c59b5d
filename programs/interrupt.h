// Ending the run on a signal: the temporary output being written is removed, the console
// given back, and the process ends with 128 + the signal's number.
#pragma once

#include "graybmp.h"

namespace graybmp {

// From here on SIGINT, SIGTERM and SIGHUP (Ctrl-C and closing the console on Windows)
// remove the temporary, restore the console and end the process with status 128 + the
// signal's number. A write past the file-size limit fails with EFBIG instead of killing
// the process.
void installInterruptHandlers();

// The library's hooks that keep the handler told of the temporary output, and stop the
// test build before the rename (testPoint). `header`, when not null, also gets the header.
graybmp_hooks interruptHooks(void (*header)(void*, const graybmp_header*), void* context);

// A point in the run where the test build alone stops the process (a no-op otherwise).
void testPoint();

}  // namespace graybmp
