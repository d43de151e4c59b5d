// A failure on its way to the caller's error record, and the statuses of the input check.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "bitmap/check.h"
#include "graybmp.h"
#include "platform/memory.h"

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

// A failure of the input: `status`, in `message`'s words.
Failure inputFailure(graybmp_status status, const std::string& message);

// A refusal by the input check, in `reason`'s words.
Failure refusalOf(InputError error, const std::string& reason);

// Runs `body` with the failure it leaves delivered; nothing thrown gets past.
template <typename Body>
graybmp_status guarded(graybmp_error* error, Body body) {
    Failure f;
#if GRAYBMP_EXCEPTIONS
    try {
        body(f);
    } catch (const std::bad_alloc&) {
        f = noMemory();
    } catch (...) {
        f = badArgument("an unexpected failure inside the library");
    }
#else
    body(f);
#endif
    return deliver(f, error);
}

}  // namespace graybmp
