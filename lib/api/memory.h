// Inputs in memory: the check of a buffer, and its conversion into another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "conversion/context.h"

namespace graybmp {

struct MemoryInput {
    Stream stream;
    Conversion c;
};

// Checks the first bytes of an input `fileSize` bytes long, `length` of them at `input`
// (all of them for an input in memory, which the stream then reads), by the settings
// already in m.c.
bool checkedMemory(const void* input, std::size_t length, std::uint64_t fileSize, MemoryInput& m, Failure& f);

}  // namespace graybmp
