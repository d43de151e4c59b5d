// The command line: GNU-style options, parsed by getopt_long, and the rules that tie them
// together. Operands are always inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graybmp.h"

namespace graybmp {

// The library's defaults, as graybmp_options_init sets them.
inline graybmp_options initialOptions() {
    graybmp_options o;
    graybmp_options_init(&o);
    return o;
}

struct Options {
    std::vector<std::string> inputs;       // "-" is standard input
    std::string output;                    // -o: one input's output, "-" for standard output
    std::string outputDir;                 // -d: every output in this folder
    bool inPlace = false;                  // -i
    bool report = false;                   // --report
    bool recursive = false;                // -r: folder operands are walked
    bool pictures = false;                 // --pictures: -r takes the pictures' extensions too
    graybmp_options gray = initialOptions();  // -m, --compact, --levels, --depth, --dither, ...
    std::string arrayName;                 // --name, which gray.name points at once parsed
    bool fitGiven = false, filterGiven = false;  // --fit, --filter: they need --size
    bool help = false, version = false;
};

// The most --max-pixels allows.
constexpr std::uint64_t kMaxPixelsAllowed = std::uint64_t{1} << 29;

// Reads `args` (program name first). On a usage error returns false with the reason,
// a line of its own, in `error`.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The text of --help.
const char* usageText();

}  // namespace graybmp
