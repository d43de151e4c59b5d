#include "platform/memory.h"

#include <cstddef>
#include <cstdlib>

namespace graybmp {

bool heapHas(std::uint64_t bytes) {
    if (bytes > SIZE_MAX / 2) return false;
    void* trial = std::malloc(static_cast<std::size_t>(bytes));
    std::free(trial);
    return trial != nullptr;
}

}  // namespace graybmp
