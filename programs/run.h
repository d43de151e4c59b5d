// One file's conversion as the command line does it, and the whole run of graybmp started
// without arguments.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "graybmp.h"
#include "options.h"

namespace graybmp {

constexpr const char* kInputName = "_Carib256.bmp";
constexpr const char* kOutputName = "_Carib256NEW.bmp";

// What one conversion reads, writes and prints.
struct FileJob {
    std::string input;               // a file's name, or "-" for standard input
    std::string output;              // a file's name, or "-" for standard output
    std::ostream* report = nullptr;  // where the header report goes; none when null
    bool reportName = false;         // the report starts with "File: <input>"
    bool pipes = false;              // a pipe is read as it comes; else refused
    bool inPlace = false;            // the output replaces the input itself
    bool outputChecked = false;      // the caller made sure the output is not the input
    bool folderHint = false;         // a folder as input says how to convert what it holds
    graybmp_options options = initialOptions();
};

// Converts one input into its output: the report, if any, as soon as the headers are
// read, a refusal or failure as one line `graybmp: <file>: <reason>` on `errors`.
// Returns 0 only when the output is complete and in place (`written` then holds its
// length); 1 otherwise, with an existing output left as it was and no temporary left.
int convertFile(const FileJob& job, std::ostream& errors, std::int64_t* written = nullptr);

// Converts the fixed input in the current directory, then waits for one key. SIGINT,
// SIGTERM and SIGHUP end it with 128 + the signal's number, the output as it was before
// the run unless it was already in place.
int runConversion();

}  // namespace graybmp
