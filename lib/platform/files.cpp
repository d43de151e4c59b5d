#include "platform/files.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

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

#ifdef _WIN32

bool seekTo(Stream& stream, std::int64_t offset) {
    if (_fseeki64(stream.file, offset, SEEK_SET) == 0) return true;
    return streamFail(stream, errno);
}

}  // namespace

std::size_t fileReadAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    if (!seekTo(stream, offset)) return 0;
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) streamFail(stream, errno);
    return got;
}

bool fileWriteAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    if (!seekTo(stream, offset)) return false;
    if (std::fwrite(data, 1, count, stream.file) != count) return streamFail(stream, errno);
    return true;
}

// Windows keeps the buffered copy.
bool fileKernelCopy(Stream&, Stream&, std::int64_t&, std::int64_t) { return false; }

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

}  // namespace

std::size_t fileReadAt(Stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const int fd = fileno(stream.file);
    int error = 0;
    const std::size_t done = whole(count, error, [&](std::size_t d) {
        return pread(fd, out + d, count - d, static_cast<off_t>(offset) + static_cast<off_t>(d));
    });
    if (error != 0) streamFail(stream, error);
    return done;
}

bool fileWriteAt(Stream& stream, std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    const int fd = fileno(stream.file);
    int error = 0;
    const std::size_t done = whole(count, error, [&](std::size_t d) {
        return pwrite(fd, data + d, count - d, static_cast<off_t>(offset) + static_cast<off_t>(d));
    });
    return done == count || streamFail(stream, error != 0 ? error : ENOSPC);
}

#ifdef __linux__
// Moves `from` forward over what the kernel copied. Stops at the first refusal, short
// copy or error: the buffered copy then takes the rest and reports what it finds.
bool fileKernelCopy(Stream& in, Stream& out, std::int64_t& from, std::int64_t to) {
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
bool fileKernelCopy(Stream&, Stream&, std::int64_t&, std::int64_t) { return false; }
#endif

#endif

#ifdef _WIN32
long long fileReadSome(Stream& stream, std::uint8_t* out, std::size_t count) {
    const int fd = fdOf(stream.file);
    return _read(fd, out, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}
bool fileSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    const int fd = fdOf(stream.file);
    for (auto [p, n] : {std::pair{a, an}, std::pair{b, bn}}) {
        while (n > 0) {
            const int put =
                _write(fd, p, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
            if (put <= 0) return streamFail(stream, put == 0 ? ENOSPC : errno);
            p += put, n -= static_cast<std::size_t>(put);
        }
    }
    return true;
}
#else
long long fileReadSome(Stream& stream, std::uint8_t* out, std::size_t count) {
    const int fd = fdOf(stream.file);
    for (;;) {
        const ssize_t n = read(fd, out, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}
// Sends `a` then `b` whole, in one system call where the pipe takes them.
bool fileSend(Stream& stream, const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
             std::size_t bn) {
    const int fd = fdOf(stream.file);
    while (an + bn > 0) {
        iovec parts[2] = {{const_cast<std::uint8_t*>(a), an}, {const_cast<std::uint8_t*>(b), bn}};
        const ssize_t n = an > 0 ? writev(fd, parts, 2) : write(fd, b, bn);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return streamFail(stream, n == 0 ? ENOSPC : errno);
        auto put = static_cast<std::size_t>(n);
        const std::size_t first = std::min(put, an);
        a += first, an -= first, put -= first;
        b += put, bn -= put;
    }
    return true;
}
#endif

namespace {

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

bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size) {
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(_fileno(stream.file), &st) != 0) return streamFail(stream, errno);
#else
    struct stat st;
    if (fstat(fileno(stream.file), &st) != 0) return streamFail(stream, errno);
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

std::size_t fileReadInOrder(Stream& stream, void* out, std::size_t count) {
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) streamFail(stream, errno);
    return got;
}

bool fileClose(Stream& stream) {
    errno = 0;
    const bool ok = std::fclose(stream.file) == 0 || streamFail(stream, errno);
    stream.file = nullptr;
    return ok;
}

}  // namespace graybmp
