// The whole run of graybmp, from its entry to its exit status.
#pragma once

#include <ostream>

namespace graybmp {

constexpr const char* kInputName = "_Carib256.bmp";
constexpr const char* kOutputName = "_Carib256NEW.bmp";

// Converts `inputName` into `outputName`: the report goes to `report`, a refusal or
// failure as one line to `errors`. Returns the exit status: 0 only when the output is
// complete and closed; 1 otherwise, with an existing output left as it was when the
// input was refused, and an incomplete output removed.
int convertFiles(const char* inputName, const char* outputName, std::ostream& report,
                 std::ostream& errors);

// Converts the fixed input in the current directory, then waits for one key.
int runConversion();

}  // namespace graybmp
