// Binary file streams: open by name, read the first bytes in order, then read and write
// at given offsets, copy a stretch from one file to the same offsets of another, and
// close every stream the run opened at once.
//
// The C stream underneath is unbuffered: the conversion moves large chunks, so a buffer
// of the C library's would only add a copy. A stretch that passes through unchanged is
// copied by the kernel where it can (copy_file_range on Linux), through a buffer elsewhere.
//
// A pipe (standard input or output, a FIFO) cannot seek. Such a stream is sequential: it
// keeps a window of the last kWindowSize bytes it read, or holds back the last
// kWindowSize bytes written before sending them, so that reads and writes at offsets may
// step back that far; a read ahead skips the bytes between, a write ahead sends zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace graybmp {

// How far a sequential stream can go back: the lead that was read before the check,
// and the 8-bit kind's 1024-byte palette block that its rows may overlap.
constexpr std::size_t kWindowSize = 2048;

struct Stream {
    std::FILE* file = nullptr;
    bool writing = false;
    int error = 0;                     // errno of the first failure, 0 while none
    bool sequential = false;           // a pipe: read or written in order through `window`
    bool owned = true;                 // false for the console's streams, which are never closed
    bool ended = false;                // sequential input: its end was met at `position`
    std::int64_t position = 0;         // sequential: bytes read from or sent to the pipe
    std::vector<std::uint8_t> window;  // the bytes before `position` (input), after it (output)
};

enum class FileKind { Regular, Directory, Pipe, Terminal, Other };

// mode is "rb" or "wb". A stream opened here is closed by closeAllStreams. On failure
// returns false with errno set.
bool streamOpen(Stream& stream, const char* name, const char* mode);

// Standard input or output as a sequential binary stream; never closed by the tool.
void streamAttachConsole(Stream& stream, bool writing);

// Makes an opened input (a FIFO) sequential.
void streamMakeSequential(Stream& stream);

// Takes over an open C stream (of a file the caller made); closed by streamClose or, when
// `remembered`, by closeAllStreams.
bool streamAttach(Stream& stream, std::FILE* file, bool writing, bool remembered = false);

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

// Whether streamCopyRange may use the kernel's copy (on by default), so that tests can
// hold the buffered path to the same results.
void allowKernelCopy(bool allowed);

bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size);

// True when `path` names the very file `stream` reads (through a symbolic or hard link).
bool streamIsFile(Stream& stream, const char* path);

// Sends what a sequential output holds back; false when it fails.
bool streamFlush(Stream& stream);

// Closes one stream (a console stream is flushed only); false (errno kept in stream.error)
// when it fails.
bool streamClose(Stream& stream);

// Closes every stream opened by streamOpen, the console's streams excepted. False when
// any close failed.
bool closeAllStreams();

}  // namespace graybmp
