// The test build's stop: the process stops itself with SIGSTOP once the copy is written
// and before it is moved into place; the test then signals it.
#include <csignal>

#include "interrupt.h"

namespace graybmp {

void testPoint() { std::raise(SIGSTOP); }

}  // namespace graybmp
