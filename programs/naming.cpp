#include "naming.h"

#include "graybmp.h"

namespace graybmp {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::size_t baseStart(const std::string& path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string newName(const std::string& input, const char* extension) {
    std::string name(graybmp_output_name(input.c_str(), extension, nullptr, 0), '\0');
    graybmp_output_name(input.c_str(), extension, &name[0], name.size() + 1);
    return name;
}

std::string withExtension(const std::string& input, const char* extension) {
    const std::size_t base = baseStart(input), dot = input.find_last_of('.');
    const std::size_t stem = dot != std::string::npos && dot > base ? dot : input.size();
    return input.substr(0, stem) + extension;
}

const char* formatExtension(int format) {
    const char* const extensions[] = {".bmp", ".raw", ".h", ".xbm", ".pbm", ".pgm"};
    return format >= 0 && format <= GRAYBMP_FORMAT_PGM ? extensions[format] : ".bmp";
}

const char* outputExtension(int format, bool picture) {
    return format != GRAYBMP_FORMAT_BMP ? formatExtension(format) : picture ? ".bmp" : nullptr;
}

std::string nameInFolder(const std::string& folder, const std::string& input) {
    const std::string base = input.substr(baseStart(input));
    const bool separated =
        !folder.empty() && std::string(kSeparators).find(folder.back()) != std::string::npos;
    return folder + (separated ? "" : "/") + base;
}

}  // namespace graybmp
