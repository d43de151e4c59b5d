// What the tests share: the expected gray copy of an input, worked out on its own from
// the rules of the format, and a few byte helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sample.h"

namespace graybmp::test {

using Bytes = std::vector<std::uint8_t>;

// The output graybmp must write for an input it accepts.
Bytes expectedGrayCopy(const Bytes& input);

Bytes sample(std::int32_t width, std::int32_t height);
Bytes sample(const SampleOptions& options);

std::uint32_t u32At(const Bytes& bytes, std::size_t offset);
void setU32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void setU16(Bytes& bytes, std::size_t offset, std::uint32_t value);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace graybmp::test
