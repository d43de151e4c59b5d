#include "platform/stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
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

std::size_t readAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const int fd = fileno(stream.file);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, out + done, count - done,
                                static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            fail(stream, errno);
            break;
        }
    }
    return done;
}

bool writeAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    const int fd = fileno(stream.file);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(fd, data + done, count - done,
                                 static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return fail(stream, n == 0 ? ENOSPC : errno);
        }
    }
    return true;
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
    std::FILE* file = std::fopen(name, mode);
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

std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count) {
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) fail(stream, errno);
    return got;
}

std::size_t streamReadAt(Stream& stream, std::int64_t offset, void* out, std::size_t count) {
    if (offset < 0) {
        fail(stream, EINVAL);
        return 0;
    }
    return readAt(stream, offset, static_cast<std::uint8_t*>(out), count);
}

bool streamWriteAt(Stream& stream, std::int64_t offset, const void* data, std::size_t count) {
    if (offset < 0) return fail(stream, EINVAL);
    return writeAt(stream, offset, static_cast<const std::uint8_t*>(data), count);
}

bool streamCopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to,
                     std::uint8_t* scratch, std::size_t scratchSize) {
    if (from >= to || kernelCopy(in, out, from, to)) return true;
    while (from < to) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(to - from, static_cast<std::int64_t>(scratchSize)));
        const std::size_t got = streamReadAt(in, from, scratch, want);
        if (got != want || !streamWriteAt(out, from, scratch, want)) return false;
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
    kind = (st.st_mode & S_IFMT) == S_IFREG   ? FileKind::Regular
           : (st.st_mode & S_IFMT) == S_IFDIR ? FileKind::Directory
                                              : FileKind::Other;
    size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

bool streamIsFile(Stream& stream, const char* path) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream.file)));
    if (!GetFileInformationByHandle(handle, &open)) return false;
    HANDLE other = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

bool streamClose(Stream& stream) {
    if (stream.file == nullptr) return true;
    errno = 0;
    const bool ok = std::fclose(stream.file) == 0;
    if (!ok) fail(stream, errno);
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
