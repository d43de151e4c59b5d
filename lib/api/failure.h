// A failure on its way to the caller's error record, and the statuses of the input check.
#pragma once

#include <cstdint>
#include <string>

#include "bitmap/check.h"
#include "graybmp.h"

namespace graybmp {

struct Failure {
    graybmp_status status = GRAYBMP_OK;
    int osError = 0;
    graybmp_side side = GRAYBMP_SIDE_NONE;
    std::uint64_t needed = 0;
    std::string message;
};

// Fills `error` (when not null) from `failure` and returns its status.
graybmp_status deliver(const Failure& failure, graybmp_error* error);

// A failure of the OS: "<what>: <the OS's words for error>" (EIO when error is 0).
Failure systemFailure(graybmp_status status, graybmp_side side, const char* what, int error);

// A rule of the call broken: GRAYBMP_BAD_ARGUMENT.
Failure badArgument(const std::string& message);

// GRAYBMP_NO_MEMORY.
Failure noMemory();

graybmp_status statusOf(InputError error);

}  // namespace graybmp
