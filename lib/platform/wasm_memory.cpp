// WebAssembly: the C library's block copies and fills as the engine's own (bulk memory's
// memory.copy and memory.fill), in place of wasi-libc's byte loops.
#include <cstddef>

#if !defined(__wasm_bulk_memory__)
#error "built with -mbulk-memory only (cmake/toolchains/wasm32-wasi.cmake)"
#endif

extern "C" {

void* memcpy(void* __restrict to, const void* __restrict from, std::size_t n) {
    return __builtin_memcpy(to, from, n);
}

void* memmove(void* to, const void* from, std::size_t n) { return __builtin_memmove(to, from, n); }

void* memset(void* to, int value, std::size_t n) { return __builtin_memset(to, value, n); }

}  // extern "C"
