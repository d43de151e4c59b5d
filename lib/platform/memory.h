// Whether the heap can give a buffer, asked before a copy's large buffers are made.
#pragma once

#include <cstdint>

// Builds without C++ exceptions (WebAssembly) cannot catch std::bad_alloc: there the
// large buffers are asked for first (heapHas), and the rest are small.
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
#define GRAYBMP_EXCEPTIONS 1
#else
#define GRAYBMP_EXCEPTIONS 0
#endif

namespace graybmp {

// True when `bytes` can be allocated now (tried, and given back); false for more than
// half the address space.
bool heapHas(std::uint64_t bytes);

}  // namespace graybmp
