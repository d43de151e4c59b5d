// The input side of a job: a file by its name or a caller's reader, opened, and its lead
// read and checked, as every conversion through streams begins.
#pragma once

#include <cstdint>

#include "conversion/context.h"
#include "graybmp.h"
#include "platform/stream.h"

namespace graybmp {

struct Input {
    Stream stream;
    FileKind kind = FileKind::Regular;
    std::uint64_t fileSize = 0;
    Conversion c;  // its settings set by the caller
};

// Opens the job's input: the named file, or the reader.
bool inputOpened(const graybmp_job& job, Input& in, Failure& f);

// The lead: the header's bytes first (a pipe's as soon as they are there, for `header`,
// which may be null), then as much as the check looks at; then the check by in.c's
// settings, which chooses the form.
bool inputChecked(const graybmp_job& job, void (*header)(void* context, const graybmp_header* h),
                  void* context, Input& in, Failure& f);

}  // namespace graybmp
