// The whole run of graybmp, from its entry to its exit status.
#pragma once

#include <ostream>

namespace graybmp {

constexpr const char* kInputName = "_Carib256.bmp";
constexpr const char* kOutputName = "_Carib256NEW.bmp";

// Converts `inputName` into `outputName`: the report goes to `report`, a refusal or
// failure as one line to `errors`. Returns the exit status: 0 only when the output is
// complete and in place; 1 otherwise, with an existing output left as it was and no
// temporary left behind.
int convertFiles(const char* inputName, const char* outputName, std::ostream& report,
                 std::ostream& errors);

// Converts the fixed input in the current directory, then waits for one key. SIGINT,
// SIGTERM and SIGHUP end it with 128 + the signal's number, the output as it was before
// the run unless it was already in place.
int runConversion();

}  // namespace graybmp
