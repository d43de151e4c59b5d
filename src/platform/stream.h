// Buffered binary file streams: open by name, read, write, seek from the start or forward
// from the current position, and close every stream the run opened at once.
//
// The C stream underneath is unbuffered; each Stream keeps one buffer of its own, so that
// small reads and writes (a narrow row, its padding) are a copy within memory and a seek
// forward inside the buffer costs no system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace graybmp {

constexpr std::size_t kStreamBufferSize = 256 * 1024;

struct Stream {
    std::FILE* file = nullptr;
    std::uint8_t* buffer = nullptr;
    std::size_t begin = 0;  // reading: unread bytes are [begin, end)
    std::size_t end = 0;    // writing: bytes not yet written are [0, end)
    bool writing = false;
    std::int64_t position = 0;  // where the next byte is read or written
    int error = 0;              // errno of the first failure, 0 while none
};

enum class FileKind { Regular, Directory, Other };

// mode is "rb" or "wb". A stream opened here is closed by closeAllStreams. On failure
// returns false with errno set.
bool streamOpen(Stream& stream, const char* name, const char* mode);

// Takes over an open C stream (of a file the caller made); closed by streamClose.
bool streamAttach(Stream& stream, std::FILE* file, bool writing);

std::size_t streamFill(Stream& stream, std::uint8_t* out, std::size_t count);

// Reads up to count bytes straight from the file, asking for no more than that, so a pipe
// or a terminal answers as soon as they have arrived. Only with nothing buffered.
std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count);
bool streamDrain(Stream& stream, const std::uint8_t* data, std::size_t count);

// Reads up to count bytes; fewer only at the end of the file or on an error.
inline std::size_t streamRead(Stream& stream, void* out, std::size_t count) {
    if (stream.end - stream.begin >= count) {
        std::memcpy(out, stream.buffer + stream.begin, count);
        stream.begin += count;
        stream.position += static_cast<std::int64_t>(count);
        return count;
    }
    return streamFill(stream, static_cast<std::uint8_t*>(out), count);
}

inline bool streamWrite(Stream& stream, const void* data, std::size_t count) {
    if (kStreamBufferSize - stream.end >= count) {
        std::memcpy(stream.buffer + stream.end, data, count);
        stream.end += count;
        stream.position += static_cast<std::int64_t>(count);
        return true;
    }
    return streamDrain(stream, static_cast<const std::uint8_t*>(data), count);
}

bool streamSeek(Stream& stream, std::int64_t offset);

// Moves a reading stream forward by count bytes from its current position; inside the
// buffer that is no system call.
inline bool streamSkip(Stream& stream, std::int64_t count) {
    if (count >= 0 && static_cast<std::uint64_t>(count) <= stream.end - stream.begin) {
        stream.begin += static_cast<std::size_t>(count);
        stream.position += count;
        return true;
    }
    return streamSeek(stream, stream.position + count);
}
bool streamFlush(Stream& stream);
bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size);

// True when `path` names the very file `stream` reads (through a symbolic or hard link).
bool streamIsFile(Stream& stream, const char* path);

// Flushes and closes one stream; false (errno kept in stream.error) when either fails.
bool streamClose(Stream& stream);

// Closes every stream opened by streamOpen, the console's streams excepted. False when
// any flush or close failed.
bool closeAllStreams();

}  // namespace graybmp
