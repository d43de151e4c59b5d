// Failures on their way to the caller's error record.
#include "conversion/failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace graybmp {
namespace {

// Both flavours of strerror_r: the GNU one returns its text, the POSIX one fills the buffer.
[[maybe_unused]] const char* errorText(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* errorText(const char* result, const char*) { return result; }

std::string osWords(int error) {
    char buffer[256] = {};
#ifdef _WIN32
    if (strerror_s(buffer, sizeof buffer, error) != 0) return "Unknown error";
    return buffer;
#else
    return errorText(strerror_r(error, buffer, sizeof buffer), buffer);
#endif
}

}  // namespace

graybmp_status deliver(const Failure& failure, graybmp_error* error) {
    if (error != nullptr) {
        error->status = failure.status;
        error->os_error = failure.osError;
        error->side = failure.side;
        error->needed = failure.needed;
        const std::size_t n = std::min(failure.message.size(), sizeof error->message - 1);
        std::memcpy(error->message, failure.message.data(), n);
        error->message[n] = '\0';
    }
    return failure.status;
}

Failure systemFailure(graybmp_status status, graybmp_side side, const char* what, int error) {
    Failure f;
    f.status = status;
    f.side = side;
    f.osError = error != 0 ? error : EIO;
    f.message = std::string(what) + ": " + osWords(f.osError);
    return f;
}

Failure badArgument(const std::string& message) {
    Failure f;
    f.status = GRAYBMP_BAD_ARGUMENT;
    f.message = message;
    return f;
}

Failure noMemory() {
    Failure f;
    f.status = GRAYBMP_NO_MEMORY;
    f.osError = ENOMEM;
    f.message = "out of memory";
    return f;
}

graybmp_status statusOf(InputError error) {
    // The refusal classes stand in the same order in both.
    return static_cast<graybmp_status>(static_cast<int>(error));
}

Failure inputFailure(graybmp_status status, const std::string& message) {
    Failure f;
    f.status = status;
    f.side = GRAYBMP_SIDE_INPUT;
    f.message = message;
    return f;
}

Failure refusalOf(InputError e, const std::string& reason) { return inputFailure(statusOf(e), reason); }

}  // namespace graybmp
