#include "platform/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace graybmp {

bool streamFail(Stream& stream, int error) {
    if (stream.error == 0) stream.error = error != 0 ? error : EIO;
    return false;
}

namespace {

// ---- Callbacks and memory ----

// The caller's read: what it returns, its failures as -1 with errno set.
long long callbackRead(const graybmp_reader* r, std::uint8_t* out, std::size_t count) {
    errno = 0;
    const long long n = r->read(r->context, out, count);
    if (n < 0 || static_cast<unsigned long long>(n) > count) {
        if (errno == 0) errno = EIO;
        return -1;
    }
    return n;
}

bool callbackWrite(Stream& s, const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        errno = 0;
        const long long n = s.writer->write(s.writer->context, data, count);
        if (n <= 0 || static_cast<unsigned long long>(n) > count)
            return streamFail(s, n == 0 ? ENOSPC : errno);
        data += n, count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool callbackSeek(Stream& s, std::int64_t offset) {
    errno = 0;
    const int result = s.reader != nullptr ? s.reader->seek(s.reader->context, static_cast<std::uint64_t>(offset))
                                           : s.writer->seek(s.writer->context, static_cast<std::uint64_t>(offset));
    return result == 0 || streamFail(s, errno);
}

std::size_t callbackReadAt(Stream& s, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (!callbackSeek(s, offset)) return 0;
    std::size_t done = 0;
    while (done < count) {
        const long long n = callbackRead(s.reader, out + done, count - done);
        if (n < 0) {
            streamFail(s, errno);
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool callbackWriteAt(Stream& s, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    return callbackSeek(s, offset) && callbackWrite(s, data, count);
}

std::size_t memoryReadAt(Stream& s, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (static_cast<std::uint64_t>(offset) >= s.memorySize) return 0;
    const std::size_t n = std::min(count, s.memorySize - static_cast<std::size_t>(offset));
    if (out != s.memory + offset) std::memmove(out, s.memory + offset, n);
    return n;
}

// Marks [offset, offset + count) written, zeroing what a write ahead skips.
bool memoryReserve(Stream& s, std::int64_t offset, std::size_t count) {
    if (static_cast<std::uint64_t>(offset) > s.memorySize) return streamFail(s, ENOSPC);
    const auto at = static_cast<std::size_t>(offset);
    if (count > s.memorySize - at) return streamFail(s, ENOSPC);
    if (at > s.memoryEnd) std::memset(s.memory + s.memoryEnd, 0, at - s.memoryEnd);
    s.memoryEnd = std::max<std::size_t>(s.memoryEnd, at + count);
    return true;
}

bool memoryWriteAt(Stream& s, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    if (!memoryReserve(s, offset, count)) return false;
    if (count != 0 && data != s.memory + offset) std::memmove(s.memory + offset, data, count);
    return true;
}

// What a sequential input reads at `at`, its next byte: the prefix, then its descriptor or
// callback.
long long sourceRead(Stream& s, std::size_t at, std::uint8_t* out, std::size_t count) {
    if (at < s.prefixSize) {
        const std::size_t n = std::min(count, s.prefixSize - at);
        std::memcpy(out, s.prefix + at, n);
        return static_cast<long long>(n);
    }
    if (s.backend == Backend::Callbacks) return callbackRead(s.reader, out, count);
    return fileReadSome(s, out, count);
}

// Sends `a` then `b` whole to a sequential output.
bool rawSend(Stream& s, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    if (s.backend == Backend::Callbacks) return callbackWrite(s, a, an) && callbackWrite(s, b, bn);
    return fileSend(s, a, an, b, bn);
}

// Reads from the pipe at its position, up to `count` bytes or its end, and keeps the
// last kWindowSize bytes read.
std::size_t pipeRead(Stream& s, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !s.ended) {
        const long long n =
            sourceRead(s, static_cast<std::size_t>(s.position) + done, out + done, count - done);
        if (n < 0) {
            streamFail(s, errno);
            break;
        }
        if (n == 0) s.ended = true;
        done += static_cast<std::size_t>(n);
    }
    s.position += static_cast<std::int64_t>(done);
    if (done >= kWindowSize) {
        s.window.assign(out + done - kWindowSize, out + done);
    } else {
        s.window.insert(s.window.end(), out, out + done);
        if (s.window.size() > kWindowSize)
            s.window.erase(s.window.begin(), s.window.begin() + static_cast<std::ptrdiff_t>(
                                                                    s.window.size() - kWindowSize));
    }
    return done;
}

std::size_t sequentialReadAt(Stream& s, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const std::int64_t windowStart = s.position - static_cast<std::int64_t>(s.window.size());
    if (offset < windowStart) {
        streamFail(s, ESPIPE);
        return 0;
    }
    std::size_t done = 0;
    if (offset < s.position) {
        done = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(count), s.position - offset));
        if (done > 0) std::memcpy(out, s.window.data() + (offset - windowStart), done);
    }
    std::uint8_t scratch[4096];
    while (s.position < offset && !s.ended && s.error == 0) {  // skip to the offset
        std::uint8_t* into = count > sizeof scratch ? out : scratch;
        const std::size_t room = count > sizeof scratch ? count : sizeof scratch;
        pipeRead(s, into,
                 static_cast<std::size_t>(
                     std::min<std::int64_t>(offset - s.position, static_cast<std::int64_t>(room))));
    }
    if (done < count && s.position == offset + static_cast<std::int64_t>(done))
        done += pipeRead(s, out + done, count - done);
    return done;
}

// Appends `n` bytes to what the output holds back and sends all but the last kWindowSize.
bool release(Stream& s, const std::uint8_t* data, std::size_t n) {
    const std::size_t held = s.window.size();
    if (held + n <= kWindowSize) {
        s.window.insert(s.window.end(), data, data + n);
        return true;
    }
    const std::size_t send = held + n - kWindowSize;
    if (send <= held) {
        if (!rawSend(s, s.window.data(), send, nullptr, 0)) return false;
        s.window.erase(s.window.begin(), s.window.begin() + static_cast<std::ptrdiff_t>(send));
        s.window.insert(s.window.end(), data, data + n);
    } else {
        if (!rawSend(s, s.window.data(), held, data, send - held)) return false;
        s.window.assign(data + (send - held), data + n);
    }
    s.position += static_cast<std::int64_t>(send);
    return true;
}

bool sequentialWriteAt(Stream& s, std::int64_t offset, const std::uint8_t* data, std::size_t n) {
    if (offset < s.position) return streamFail(s, ESPIPE);
    static const std::uint8_t zeros[65536] = {};
    for (std::int64_t end = s.position + static_cast<std::int64_t>(s.window.size()); end < offset;
         end = s.position + static_cast<std::int64_t>(s.window.size())) {
        if (!release(s, zeros,
                     static_cast<std::size_t>(std::min<std::int64_t>(
                         offset - end, static_cast<std::int64_t>(sizeof zeros)))))
            return false;
    }
    const auto into = static_cast<std::size_t>(offset - s.position);
    const std::size_t over = std::min(n, s.window.size() - into);
    if (over > 0) std::memcpy(s.window.data() + into, data, over);
    return release(s, data + over, n - over);
}


std::size_t positionedReadAt(Stream& s, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    switch (s.backend) {
    case Backend::File:
        return fileReadAt(s, offset, out, count);
    case Backend::Callbacks:
        return callbackReadAt(s, offset, out, count);
    case Backend::Memory:
        return memoryReadAt(s, offset, out, count);
    default:
        streamFail(s, EBADF);
        return 0;
    }
}

bool positionedWriteAt(Stream& s, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    switch (s.backend) {
    case Backend::File:
        return fileWriteAt(s, offset, data, count);
    case Backend::Callbacks:
        return callbackWriteAt(s, offset, data, count);
    case Backend::Memory:
        return memoryWriteAt(s, offset, data, count);
    default:
        return streamFail(s, EBADF);
    }
}

}  // namespace


void streamAttachReader(Stream& stream, const graybmp_reader* reader, const void* prefix,
                        std::size_t prefixSize, std::int64_t& length) {
    stream = Stream{};
    stream.backend = Backend::Callbacks;
    stream.reader = reader;
    length = -1;
    if (reader->seek != nullptr && reader->length != nullptr) {
        errno = 0;
        const long long n = reader->length(reader->context);
        if (n >= 0) length = n;
    }
    stream.sequential = length < 0;
    if (stream.sequential && prefix != nullptr) {
        stream.prefix = static_cast<const std::uint8_t*>(prefix);
        stream.prefixSize = prefixSize;
    }
}

void streamAttachWriter(Stream& stream, const graybmp_writer* writer) {
    stream = Stream{};
    stream.backend = Backend::Callbacks;
    stream.writer = writer;
    stream.writing = true;
    stream.sequential = writer->seek == nullptr;
}

void streamAttachMemory(Stream& stream, const void* data, std::size_t size, bool writing) {
    stream = Stream{};
    stream.backend = Backend::Memory;
    stream.memory = static_cast<std::uint8_t*>(const_cast<void*>(data));
    stream.memorySize = size;
    stream.writing = writing;
}

void streamFinishMemory(Stream& stream, std::size_t size) {
    if (stream.memoryEnd < size) memoryReserve(stream, static_cast<std::int64_t>(size), 0);
}

void streamMakeSequential(Stream& stream) { stream.sequential = true; }

std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count) {
    if (stream.sequential)
        return sequentialReadAt(stream, stream.position, static_cast<std::uint8_t*>(out), count);
    std::size_t got = 0;
    if (stream.backend == Backend::File) {  // in order: the file may be a FIFO or a device
        got = fileReadInOrder(stream, out, count);
    } else {
        got = positionedReadAt(stream, stream.position, static_cast<std::uint8_t*>(out), count);
    }
    stream.position += static_cast<std::int64_t>(got);
    return got;
}

std::size_t streamReadAt(Stream& stream, std::int64_t offset, void* out, std::size_t count) {
    if (offset < 0) {
        streamFail(stream, EINVAL);
        return 0;
    }
    if (stream.sequential)
        return sequentialReadAt(stream, offset, static_cast<std::uint8_t*>(out), count);
    return positionedReadAt(stream, offset, static_cast<std::uint8_t*>(out), count);
}

bool streamWriteAt(Stream& stream, std::int64_t offset, const void* data, std::size_t count) {
    if (offset < 0) return streamFail(stream, EINVAL);
    if (stream.sequential)
        return sequentialWriteAt(stream, offset, static_cast<const std::uint8_t*>(data), count);
    return positionedWriteAt(stream, offset, static_cast<const std::uint8_t*>(data), count);
}

bool streamCopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to,
                     std::uint8_t* scratch, std::size_t scratchSize, bool untilEnd) {
    if (from >= to) return true;
    if (in.backend == Backend::Memory && out.backend == Backend::Memory) {
        // One copy, or none where the two are one buffer; the input's end stops it.
        const std::int64_t end = std::min<std::int64_t>(to, static_cast<std::int64_t>(in.memorySize));
        const auto n = static_cast<std::size_t>(std::max<std::int64_t>(0, end - from));
        if (n > 0 && !memoryWriteAt(out, from, in.memory + from, n)) return false;
        return end == to;
    }
    if (in.backend == Backend::File && out.backend == Backend::File && !in.sequential &&
        !out.sequential && fileKernelCopy(in, out, from, to))
        return true;
    while (from < to) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(to - from, static_cast<std::int64_t>(scratchSize)));
        const std::size_t got = streamReadAt(in, from, scratch, want);
        if (got != want) {  // a copy to the unknown end of a pipe stops where it ends
            const bool end = untilEnd && in.ended && in.error == 0;
            return end && (got == 0 || streamWriteAt(out, from, scratch, got));
        }
        if (!streamWriteAt(out, from, scratch, want)) return false;
        from += static_cast<std::int64_t>(want);
    }
    return true;
}

bool streamFlush(Stream& stream) {
    if (!stream.sequential || !stream.writing || stream.window.empty()) return stream.error == 0;
    if (!rawSend(stream, stream.window.data(), stream.window.size(), nullptr, 0)) return false;
    stream.position += static_cast<std::int64_t>(stream.window.size());
    stream.window.clear();
    return true;
}

bool streamClose(Stream& stream) {
    if (stream.backend == Backend::None) return stream.error == 0;
    bool ok = !stream.writing || streamFlush(stream);
    if (stream.backend == Backend::File && stream.file != nullptr && !fileClose(stream)) ok = false;
    stream.backend = Backend::None;
    return ok && stream.error == 0;
}

}  // namespace graybmp
