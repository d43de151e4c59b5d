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

// The check's refusals are the public statuses of the same names, in the same order: the
// list of refusals is graybmp_status, and this holds them together at compile time.
struct RefusalStatus {
    InputError error;
    graybmp_status status;
};
constexpr RefusalStatus kRefusals[] = {
    {InputError::TooShort, GRAYBMP_TOO_SHORT},
    {InputError::NotBitmap, GRAYBMP_NOT_BITMAP},
    {InputError::BadInfoHeaderSize, GRAYBMP_BAD_INFO_HEADER_SIZE},
    {InputError::TruncatedInfoHeader, GRAYBMP_TRUNCATED_INFO_HEADER},
    {InputError::BadBitCount, GRAYBMP_BAD_BIT_COUNT},
    {InputError::CompressionMismatch, GRAYBMP_COMPRESSION_MISMATCH},
    {InputError::EmbeddedImage, GRAYBMP_EMBEDDED_IMAGE},
    {InputError::UnknownCompression, GRAYBMP_UNKNOWN_COMPRESSION},
    {InputError::MaskMissing, GRAYBMP_MASK_MISSING},
    {InputError::MaskNotContiguous, GRAYBMP_MASK_NOT_CONTIGUOUS},
    {InputError::MasksOverlap, GRAYBMP_MASKS_OVERLAP},
    {InputError::MaskOutsidePixel, GRAYBMP_MASK_OUTSIDE_PIXEL},
    {InputError::NegativeWidth, GRAYBMP_NEGATIVE_WIDTH},
    {InputError::PixelsInsideHeaders, GRAYBMP_PIXELS_INSIDE_HEADERS},
    {InputError::RowsDoNotFit, GRAYBMP_ROWS_DO_NOT_FIT},
    {InputError::RunsOutsideFile, GRAYBMP_RUNS_OUTSIDE_FILE},
    {InputError::ArrayEntryNotBitmap, GRAYBMP_ARRAY_ENTRY_NOT_BITMAP},
    {InputError::ArrayLeavesFile, GRAYBMP_ARRAY_LEAVES_FILE},
    {InputError::ArrayLoops, GRAYBMP_ARRAY_LOOPS},
    {InputError::ArrayOverlaps, GRAYBMP_ARRAY_OVERLAPS},
    {InputError::ArrayBehindPipe, GRAYBMP_ARRAY_BEHIND_PIPE},
};
constexpr bool refusalsInOrder() {
    for (const RefusalStatus& r : kRefusals)
        if (static_cast<int>(r.error) != static_cast<int>(r.status)) return false;
    return sizeof kRefusals / sizeof kRefusals[0] == static_cast<std::size_t>(InputError::ArrayBehindPipe);
}
static_assert(refusalsInOrder(), "every refusal of the check stands where its status does");

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
