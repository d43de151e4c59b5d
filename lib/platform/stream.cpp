#include "platform/stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/wide.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace graybmp {
namespace {

#ifdef _WIN32
int fdOf(std::FILE* file) { return _fileno(file); }
#else
int fdOf(std::FILE* file) { return fileno(file); }
#endif

bool fail(Stream& stream, int error) {
    if (stream.error == 0) stream.error = error != 0 ? error : EIO;
    return false;
}

#ifdef _WIN32

bool seekTo(Stream& stream, std::int64_t offset) {
    if (_fseeki64(stream.file, offset, SEEK_SET) == 0) return true;
    return fail(stream, errno);
}

std::size_t fileReadAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (!seekTo(stream, offset)) return 0;
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) fail(stream, errno);
    return got;
}

bool fileWriteAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    if (!seekTo(stream, offset)) return false;
    if (std::fwrite(data, 1, count, stream.file) != count) return fail(stream, errno);
    return true;
}

// Windows keeps the buffered copy.
bool kernelCopy(Stream&, Stream&, std::int64_t&, std::int64_t) { return false; }

#else

// Calls `part(done)` (a pread or pwrite of what is left) until `count` bytes are done, a
// call moves none, or one fails other than by EINTR: the bytes done, and in `error` the
// failure's errno (0 when a call moved none).
template <typename Part>
std::size_t whole(std::size_t count, int& error, Part part) {
    std::size_t done = 0;
    error = 0;
    while (done < count) {
        const ssize_t n = part(done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? 0 : errno;
            break;
        }
    }
    return done;
}

std::size_t fileReadAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const int fd = fileno(stream.file);
    int error = 0;
    const std::size_t done = whole(count, error, [&](std::size_t d) {
        return pread(fd, out + d, count - d, static_cast<off_t>(offset) + static_cast<off_t>(d));
    });
    if (error != 0) fail(stream, error);
    return done;
}

bool fileWriteAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    const int fd = fileno(stream.file);
    int error = 0;
    const std::size_t done = whole(count, error, [&](std::size_t d) {
        return pwrite(fd, data + d, count - d, static_cast<off_t>(offset) + static_cast<off_t>(d));
    });
    return done == count || fail(stream, error != 0 ? error : ENOSPC);
}

#ifdef __linux__
// Moves `from` forward over what the kernel copied. Stops at the first refusal, short
// copy or error: the buffered copy then takes the rest and reports what it finds.
bool kernelCopy(Stream& in, Stream& out, std::int64_t& from, std::int64_t to) {
    if (!in.kernelCopy || !out.kernelCopy) return false;
    loff_t inOffset = from, outOffset = from;
    while (inOffset < to) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(to - inOffset, 1 << 30));
        const ssize_t n =
            copy_file_range(fileno(in.file), &inOffset, fileno(out.file), &outOffset, want, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    from = inOffset;
    return from == to;
}
#else
bool kernelCopy(Stream&, Stream&, std::int64_t&, std::int64_t) { return false; }
#endif

#endif

// ---- Pipes: bytes in order, through a window ----

#ifdef _WIN32
long long fdRead(int fd, std::uint8_t* out, std::size_t count) {
    return _read(fd, out, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}
bool fdSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    const int fd = fdOf(stream.file);
    for (auto [p, n] : {std::pair{a, an}, std::pair{b, bn}}) {
        while (n > 0) {
            const int put =
                _write(fd, p, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
            if (put <= 0) return fail(stream, put == 0 ? ENOSPC : errno);
            p += put, n -= static_cast<std::size_t>(put);
        }
    }
    return true;
}
#else
long long fdRead(int fd, std::uint8_t* out, std::size_t count) {
    for (;;) {
        const ssize_t n = read(fd, out, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}
// Sends `a` then `b` whole, in one system call where the pipe takes them.
bool fdSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    const int fd = fdOf(stream.file);
    while (an + bn > 0) {
        iovec parts[2] = {{const_cast<std::uint8_t*>(a), an}, {const_cast<std::uint8_t*>(b), bn}};
        const ssize_t n = an > 0 ? writev(fd, parts, 2) : write(fd, b, bn);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(stream, n == 0 ? ENOSPC : errno);
        auto put = static_cast<std::size_t>(n);
        const std::size_t first = std::min(put, an);
        a += first, an -= first, put -= first;
        b += put, bn -= put;
    }
    return true;
}
#endif

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
            return fail(s, n == 0 ? ENOSPC : errno);
        data += n, count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool callbackSeek(Stream& s, std::int64_t offset) {
    errno = 0;
    const int result = s.reader != nullptr ? s.reader->seek(s.reader->context, static_cast<std::uint64_t>(offset))
                                           : s.writer->seek(s.writer->context, static_cast<std::uint64_t>(offset));
    return result == 0 || fail(s, errno);
}

std::size_t callbackReadAt(Stream& s, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (!callbackSeek(s, offset)) return 0;
    std::size_t done = 0;
    while (done < count) {
        const long long n = callbackRead(s.reader, out + done, count - done);
        if (n < 0) {
            fail(s, errno);
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
    const auto at = static_cast<std::uint64_t>(offset);
    if (at > s.memorySize || count > s.memorySize - at) return fail(s, ENOSPC);
    if (at > s.memoryEnd) std::memset(s.memory + s.memoryEnd, 0, at - s.memoryEnd);
    s.memoryEnd = std::max<std::size_t>(s.memoryEnd, at + count);
    return true;
}

bool memoryWriteAt(Stream& s, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    if (!memoryReserve(s, offset, count)) return false;
    if (data != s.memory + offset) std::memmove(s.memory + offset, data, count);
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
    return fdRead(fdOf(s.file), out, count);
}

// Sends `a` then `b` whole to a sequential output.
bool rawSend(Stream& s, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    if (s.backend == Backend::Callbacks) return callbackWrite(s, a, an) && callbackWrite(s, b, bn);
    return fdSend(s, a, an, b, bn);
}

// Reads from the pipe at its position, up to `count` bytes or its end, and keeps the
// last kWindowSize bytes read.
std::size_t pipeRead(Stream& s, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !s.ended) {
        const long long n =
            sourceRead(s, static_cast<std::size_t>(s.position) + done, out + done, count - done);
        if (n < 0) {
            fail(s, errno);
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
        fail(s, ESPIPE);
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
    if (offset < s.position) return fail(s, ESPIPE);
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

bool prepare(Stream& stream, std::FILE* file, bool writing) {
    stream = Stream{};
    stream.backend = Backend::File;
    stream.file = file;
    stream.writing = writing;
    if (std::setvbuf(file, nullptr, _IONBF, 0) != 0) {
        std::fclose(file);
        stream = Stream{};
        errno = ENOMEM;
        return false;
    }
    return true;
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
        fail(s, EBADF);
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
        return fail(s, EBADF);
    }
}

}  // namespace

bool streamOpen(Stream& stream, const char* name, const char* mode) {
    errno = 0;
#ifdef _WIN32
    std::FILE* file = _wfopen(widePath(name).c_str(), mode[0] == 'w' ? L"wb" : L"rb");
#elif defined(__linux__)
    std::FILE* file = std::fopen(name, mode[0] == 'w' ? "wbe" : "rbe");  // close on exec
#else
    std::FILE* file = std::fopen(name, mode);
#endif
    if (file == nullptr) {
        if (errno == 0) errno = ENOENT;
#ifdef _WIN32
        // Windows will not open a folder at all (EACCES): say what it is.
        const DWORD attributes = GetFileAttributesW(widePath(name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            errno = EISDIR;
#endif
        return false;
    }
    return streamAttach(stream, file, mode[0] == 'w');
}

bool streamAttach(Stream& stream, std::FILE* file, bool writing) {
    return prepare(stream, file, writing);
}

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
        got = std::fread(out, 1, count, stream.file);
        if (got < count && std::ferror(stream.file)) fail(stream, errno);
    } else {
        got = positionedReadAt(stream, stream.position, static_cast<std::uint8_t*>(out), count);
    }
    stream.position += static_cast<std::int64_t>(got);
    return got;
}

std::size_t streamReadAt(Stream& stream, std::int64_t offset, void* out, std::size_t count) {
    if (offset < 0) {
        fail(stream, EINVAL);
        return 0;
    }
    if (stream.sequential)
        return sequentialReadAt(stream, offset, static_cast<std::uint8_t*>(out), count);
    return positionedReadAt(stream, offset, static_cast<std::uint8_t*>(out), count);
}

bool streamWriteAt(Stream& stream, std::int64_t offset, const void* data, std::size_t count) {
    if (offset < 0) return fail(stream, EINVAL);
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
        !out.sequential && kernelCopy(in, out, from, to))
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

bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size) {
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(_fileno(stream.file), &st) != 0) return fail(stream, errno);
#else
    struct stat st;
    if (fstat(fileno(stream.file), &st) != 0) return fail(stream, errno);
#endif
    const auto type = st.st_mode & S_IFMT;
    kind = type == S_IFREG   ? FileKind::Regular
           : type == S_IFDIR ? FileKind::Directory
                             : FileKind::Other;
#ifdef _WIN32
    if (type == _S_IFIFO) kind = FileKind::Pipe;
    DWORD console = 0;  // a console, not NUL, which is a character device too
    if (type == _S_IFCHR &&
        GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream.file))), &console))
        kind = FileKind::Terminal;
#else
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) kind = FileKind::Pipe;
    if (S_ISCHR(st.st_mode) && isatty(fileno(stream.file))) kind = FileKind::Terminal;
#endif
    size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

bool streamIsFile(Stream& stream, const char* path) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream.file)));
    if (!GetFileInformationByHandle(handle, &open)) return false;
    HANDLE other = CreateFileW(widePath(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    const bool got = GetFileInformationByHandle(other, &named) != 0;
    CloseHandle(other);
    return got && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
#else
    struct stat open, named;
    if (fstat(fileno(stream.file), &open) != 0 || stat(path, &named) != 0) return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
#endif
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
    if (stream.backend == Backend::File && stream.file != nullptr) {
        errno = 0;
        if (std::fclose(stream.file) != 0) ok = fail(stream, errno);
        stream.file = nullptr;
    }
    stream.backend = Backend::None;
    return ok && stream.error == 0;
}

}  // namespace graybmp
