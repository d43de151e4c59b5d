// The gray copy of an input by each of the library's ways in, for the tests to hold
// against the tool's: memory to memory, in place, callbacks (in order, in pieces of a
// few bytes, and at offsets) and files by name.
#pragma once

#include <string>
#include <vector>

#include "graybmp.h"
#include "testkit.h"

namespace graybmp::test {

struct LibraryCopy {
    std::string path;      // which way in
    graybmp_status status;
    std::string message;
    Bytes output;          // the gray copy, when status is GRAYBMP_OK
};

// Every way's copy of `input` by `method`; `folder` holds the files of the last way.
std::vector<LibraryCopy> libraryCopies(const Bytes& input, Method method, bool compact,
                                       const std::string& folder);

std::vector<LibraryCopy> libraryCopies(const Bytes& input, const graybmp_options& options,
                                       const std::string& folder);

// Empty when every way gives `expected` (a refusal: when every way refuses, by the same
// status, a buffer refused in place is unchanged and an earlier output file is kept);
// else what differs, in words.
std::string libraryProblem(const Bytes& input, Method method, bool compact,
                           const std::string& folder, const Bytes* expected);
std::string libraryProblem(const Bytes& input, const graybmp_options& options, const std::string& folder,
                           const Bytes* expected);

}  // namespace graybmp::test
