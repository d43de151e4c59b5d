// Windows keeps names as UTF-16; the library takes and gives them as UTF-8.
#pragma once

#ifdef _WIN32
#include <string>

namespace graybmp {

std::wstring widePath(const std::string& utf8);
std::string utf8Path(const std::wstring& wide);

}  // namespace graybmp
#endif
