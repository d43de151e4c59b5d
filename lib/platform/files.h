// The file side of streams, which stream.cpp calls for Backend::File and nothing else
// does. files.cpp is it on systems with files; a build without them (WebAssembly) takes
// nofiles.cpp instead, where a file cannot be opened (ENOSYS) and so none of the rest is
// ever reached.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/stream.h"

namespace graybmp {

// Records a stream's first failure (EIO when `error` is 0); false. In stream.cpp.
bool streamFail(Stream& stream, int error);

// Reads up to count bytes at `offset`; fewer only at the end of the file or on an error.
std::size_t fileReadAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count);
bool fileWriteAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count);
// Copies [from, to) between two files by the kernel where it can, moving `from` past what
// it copied; true when it copied all.
bool fileKernelCopy(Stream& in, Stream& out, std::int64_t& from, std::int64_t to);
// One read from the current position, as a pipe answers: the bytes, 0 at its end, -1
// with errno set.
long long fileReadSome(Stream& stream, std::uint8_t* out, std::size_t count);
// Sends `a` then `b` whole, in order.
bool fileSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
              std::size_t bn);
// Reads in order from the current position, up to count bytes.
std::size_t fileReadInOrder(Stream& stream, void* out, std::size_t count);
bool fileClose(Stream& stream);

}  // namespace graybmp
