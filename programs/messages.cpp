#include "messages.h"

namespace graybmp {
namespace {

// The library's words, and the tool's for them.
const struct {
    const char* library;
    const char* tool;
} kWords[] = {
    {"the levels take ", "--levels takes "},
    {"the levels would drop", "--levels would drop"},
    {"the compact form takes ", "--compact writes "},
    {"the compact form would drop", "--compact would drop"},
    {"dithering needs levels", "dithering needs levels (--levels)"},
    {"no background to composite", "no --background to composite"},
};

}  // namespace

std::string toolWords(const std::string& reason) {
    for (const auto& w : kWords) {
        const std::string from = w.library;
        const std::size_t at = reason.find(from);
        if (at == std::string::npos) continue;
        // Whole phrases only: "dithering needs levels" but not "... fewer than 256 levels".
        const std::size_t end = at + from.size();
        if (from.back() != ' ' && end < reason.size() && reason[end] != ' ') continue;
        return reason.substr(0, at) + w.tool + reason.substr(end);
    }
    return reason;
}

}  // namespace graybmp
