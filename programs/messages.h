// The library's reasons in the tool's words: where a reason speaks of the library's
// output forms (the levels, the compact form), the tool names the option that asks for
// them.
#pragma once

#include <string>

namespace graybmp {

std::string toolWords(const std::string& reason);

}  // namespace graybmp
