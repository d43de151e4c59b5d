// Binary streams: read the first bytes in order, then read and write at given offsets,
// and copy a stretch from one stream to the same offsets of another. A stream is a file
// (its descriptor's positioned reads and writes), a caller's callbacks, or memory.
//
// A stretch that passes through unchanged between two files is copied by the kernel where
// it can (copy_file_range on Linux), through a buffer elsewhere; memory to memory is one
// memcpy.
//
// A pipe (a FIFO, a reader or writer without seek) cannot seek. Such a stream is
// sequential: it keeps a window of the last kWindowSize bytes it read, or holds back the
// last kWindowSize bytes written before sending them, so that reads and writes at offsets
// may step back that far; a read ahead skips the bytes between, a write ahead sends zeros.
//
// A Stream belongs to one conversion at a time; streams share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "graybmp.h"

namespace graybmp {

// How far a sequential stream can go back: the lead that was read before the check,
// and the 8-bit kind's 1024-byte palette block that its rows may overlap.
constexpr std::size_t kWindowSize = 2048;

enum class Backend { None, File, Callbacks, Memory };

struct Stream {
    Backend backend = Backend::None;
    std::FILE* file = nullptr;                // File: unbuffered; closed by streamClose
    const graybmp_reader* reader = nullptr;   // Callbacks, input
    const graybmp_writer* writer = nullptr;   // Callbacks, output
    std::uint8_t* memory = nullptr;           // Memory: the buffer...
    std::size_t memorySize = 0;               // ...its length...
    std::size_t memoryEnd = 0;                // ...and how far the output is written
    const std::uint8_t* prefix = nullptr;     // sequential input: bytes delivered first
    std::size_t prefixSize = 0;
    bool writing = false;
    bool kernelCopy = true;            // whether copies between files may use the kernel's
    int error = 0;                     // errno of the first failure, 0 while none
    bool sequential = false;           // a pipe: read or written in order through `window`
    bool ended = false;                // sequential input: its end was met at `position`
    std::int64_t position = 0;         // sequential: bytes read from or sent to the pipe
    std::vector<std::uint8_t> window;  // the bytes before `position` (input), after it (output)
};

enum class FileKind { Regular, Directory, Pipe, Terminal, Other };

// mode is "rb" or "wb". On failure returns false with errno set (EISDIR for a folder
// that cannot be opened at all, as on Windows).
bool streamOpen(Stream& stream, const char* name, const char* mode);

// Takes over an open C stream (of a file the caller made); closed by streamClose.
bool streamAttach(Stream& stream, std::FILE* file, bool writing);

// A caller's callbacks: positioned when it has seek (and, for a reader, a known length,
// returned in `length`), else sequential. `prefix`, for a sequential reader, holds bytes
// that come before what it reads.
void streamAttachReader(Stream& stream, const graybmp_reader* reader, const void* prefix,
                        std::size_t prefixSize, std::int64_t& length);
void streamAttachWriter(Stream& stream, const graybmp_writer* writer);

// A buffer as a positioned stream. An output's bytes that a write skips over read as
// zeros, as in a file: streamFinishMemory zeroes what is left up to `size`.
void streamAttachMemory(Stream& stream, const void* data, std::size_t size, bool writing);
void streamFinishMemory(Stream& stream, std::size_t size);

// Makes an opened input (a FIFO) sequential.
void streamMakeSequential(Stream& stream);

// Reads up to count bytes from the current position, asking for no more than that, so a
// pipe or a terminal answers as soon as they have arrived.
std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count);

// Reads up to count bytes at `offset`; fewer only at the end of the file or on an error
// (then stream.error is set).
std::size_t streamReadAt(Stream& stream, std::int64_t offset, void* out, std::size_t count);

// Writes count bytes at `offset`; a write past the end leaves zeros in between.
bool streamWriteAt(Stream& stream, std::int64_t offset, const void* data, std::size_t count);

// Copies the input's bytes [from, to) to the same offsets of the output, by the kernel
// where it can and otherwise through `scratch`. False when either file fails (its error
// is set) or the input ends before `to` (no error set); with `untilEnd`, a sequential
// input's end is where the copy stops.
bool streamCopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to,
                     std::uint8_t* scratch, std::size_t scratchSize, bool untilEnd = false);

bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size);

// True when `path` names the very file `stream` reads (through a symbolic or hard link).
bool streamIsFile(Stream& stream, const char* path);

// Sends what a sequential output holds back; false when it fails.
bool streamFlush(Stream& stream);

// Flushes and closes one stream (a file is closed; callbacks and memory are let go);
// false (errno kept in stream.error) when it fails. Safe to call twice.
bool streamClose(Stream& stream);

}  // namespace graybmp
