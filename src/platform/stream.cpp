#include "platform/stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

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

// The streams the run opened, closed together at its end.
constexpr std::size_t kMaxOpenStreams = 4;
Stream* openStreams[kMaxOpenStreams] = {};
bool kernelCopyAllowed = true;

void remember(Stream& stream) {
    for (Stream*& slot : openStreams) {
        if (slot == nullptr) {
            slot = &stream;
            return;
        }
    }
}

void forget(Stream& stream) {
    for (Stream*& slot : openStreams) {
        if (slot == &stream) slot = nullptr;
    }
}

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

std::size_t readAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (!seekTo(stream, offset)) return 0;
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) fail(stream, errno);
    return got;
}

bool writeAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
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

std::size_t readAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const int fd = fileno(stream.file);
    int error = 0;
    const std::size_t done = whole(count, error, [&](std::size_t d) {
        return pread(fd, out + d, count - d, static_cast<off_t>(offset) + static_cast<off_t>(d));
    });
    if (error != 0) fail(stream, error);
    return done;
}

bool writeAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
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
    if (!kernelCopyAllowed) return false;
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
long long rawRead(int fd, std::uint8_t* out, std::size_t count) {
    return _read(fd, out, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}
bool rawSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
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
long long rawRead(int fd, std::uint8_t* out, std::size_t count) {
    for (;;) {
        const ssize_t n = read(fd, out, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}
// Sends `a` then `b` whole, in one system call where the pipe takes them.
bool rawSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
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

// Reads from the pipe at its position, up to `count` bytes or its end, and keeps the
// last kWindowSize bytes read.
std::size_t pipeRead(Stream& s, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !s.ended) {
        const long long n = rawRead(fdOf(s.file), out + done, count - done);
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

}  // namespace

bool streamOpen(Stream& stream, const char* name, const char* mode) {
    errno = 0;
#ifdef _WIN32
    std::FILE* file = _wfopen(widePath(name).c_str(), mode[0] == 'w' ? L"wb" : L"rb");
#else
    std::FILE* file = std::fopen(name, mode);
#endif
    if (file == nullptr) {
        if (errno == 0) errno = ENOENT;
        return false;
    }
    return streamAttach(stream, file, mode[0] == 'w', true);
}

bool streamAttach(Stream& stream, std::FILE* file, bool writing, bool remembered) {
    if (!prepare(stream, file, writing)) return false;
    if (remembered) remember(stream);
    return true;
}

void streamAttachConsole(Stream& stream, bool writing) {
    std::FILE* file = writing ? stdout : stdin;
    if (writing) std::fflush(stdout);
#ifdef _WIN32
    _setmode(_fileno(file), _O_BINARY);
#endif
    stream = Stream{};
    stream.file = file;
    stream.writing = writing;
    stream.owned = false;
    stream.sequential = true;
}

void streamMakeSequential(Stream& stream) { stream.sequential = true; }

std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count) {
    if (stream.sequential)
        return sequentialReadAt(stream, stream.position, static_cast<std::uint8_t*>(out), count);
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) fail(stream, errno);
    return got;
}

std::size_t streamReadAt(Stream& stream, std::int64_t offset, void* out, std::size_t count) {
    if (offset < 0) {
        fail(stream, EINVAL);
        return 0;
    }
    if (stream.sequential)
        return sequentialReadAt(stream, offset, static_cast<std::uint8_t*>(out), count);
    return readAt(stream, offset, static_cast<std::uint8_t*>(out), count);
}

bool streamWriteAt(Stream& stream, std::int64_t offset, const void* data, std::size_t count) {
    if (offset < 0) return fail(stream, EINVAL);
    if (stream.sequential)
        return sequentialWriteAt(stream, offset, static_cast<const std::uint8_t*>(data), count);
    return writeAt(stream, offset, static_cast<const std::uint8_t*>(data), count);
}

bool streamCopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to,
                     std::uint8_t* scratch, std::size_t scratchSize, bool untilEnd) {
    if (from >= to) return true;
    if (!in.sequential && !out.sequential && kernelCopy(in, out, from, to)) return true;
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

void allowKernelCopy(bool allowed) { kernelCopyAllowed = allowed; }

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
    if (stream.file == nullptr) return true;
    bool ok = streamFlush(stream);
    if (stream.owned) {
        errno = 0;
        if (std::fclose(stream.file) != 0) ok = fail(stream, errno);
    }
    forget(stream);
    stream.file = nullptr;
    return ok;
}

// glibc's fcloseall only flushes, and it would take the console's streams with it, so
// each stream the run opened is closed by itself. On Windows the C library's _fcloseall
// closes exactly the streams opened with fopen, leaving the console's alone.
bool closeAllStreams() {
    bool ok = true;
#ifdef _WIN32
    int expected = 0;
    for (Stream*& slot : openStreams) {
        if (slot == nullptr) continue;
        slot->file = nullptr;
        slot = nullptr;
        ++expected;
    }
    if (expected > 0 && _fcloseall() != expected) ok = false;
#else
    for (Stream* slot : openStreams) {
        if (slot != nullptr && !streamClose(*slot)) ok = false;
    }
#endif
    return ok;
}

}  // namespace graybmp
