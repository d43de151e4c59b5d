// Names and the version: the gray copy's name beside its input, the library's version and
// its processor targets.
#include <algorithm>
#include <cstring>

#include "convert/kernels.h"
#include "graybmp.h"

using namespace graybmp;

extern "C" {

size_t graybmp_output_name(const char* input, const char* extension, char* name, size_t capacity) {
    if (input == nullptr) input = "";
    const std::size_t size = std::strlen(input);
    std::size_t base = 0, stem = size;  // where the last name starts, and its extension
    for (std::size_t i = 0; i < size; ++i) {
#ifdef _WIN32
        if (input[i] == '/' || input[i] == '\\') base = i + 1, stem = size;
#else
        if (input[i] == '/') base = i + 1, stem = size;
#endif
        if (input[i] == '.' && i > base) stem = i;
    }
    // A dot before the last folder separator starts no extension either.
    if (stem < base) stem = size;
    // Stem, "NEW", extension, cut to the capacity.
    if (extension == nullptr) extension = input + stem;
    const char* parts[3] = {input, "NEW", extension};
    const std::size_t lengths[3] = {stem, 3, std::strlen(extension)};
    std::size_t at = 0;
    for (int p = 0; p < 3 && name != nullptr && capacity > 0; ++p) {
        const std::size_t n = std::min(lengths[p], capacity - 1 - at);
        std::memcpy(name + at, parts[p], n);
        at += n;
    }
    if (name != nullptr && capacity > 0) name[at] = '\0';
    return stem + 3 + lengths[2];
}

size_t graybmp_gray_name(const char* input, char* name, size_t capacity) {
    return graybmp_output_name(input, nullptr, name, capacity);
}

const char* graybmp_version(void) { return GRAYBMP_VERSION_STRING; }

const char* graybmp_cpu(void) { return cpuName(processCpu()); }

int graybmp_cpu_known(const char* name) {
    Cpu cpu;
    return name != nullptr && cpuNamed(name, cpu) ? 1 : 0;
}

const char* graybmp_cpu_name(size_t index) {
    return index < kCpus ? cpuName(static_cast<Cpu>(index)) : nullptr;
}

}  // extern "C"
