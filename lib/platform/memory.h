// Whether the heap can give a buffer, asked before a copy's large buffers are made.
#pragma once

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

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

// An allocator that leaves a vector's new elements as they are where the standard one
// zeroes them: for buffers whose bytes are written before they are read, of which a
// small image's copy would otherwise clear as many as it converts.
template <class T>
struct Uninitialized : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = Uninitialized<U>;
    };
    Uninitialized() = default;
    template <class U>
    Uninitialized(const Uninitialized<U>&) noexcept {}
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};
using Buffer = std::vector<std::uint8_t, Uninitialized<std::uint8_t>>;

}  // namespace graybmp
