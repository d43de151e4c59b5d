#include "interrupt.h"

namespace graybmp {

// The tool itself does not stop: the test build links a stop of its own in here.
void testPoint() {}

}  // namespace graybmp
