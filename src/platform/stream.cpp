#include "platform/stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

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

bool fail(Stream& stream) {
    if (stream.error == 0) stream.error = errno != 0 ? errno : EIO;
    return false;
}

int seekFile(std::FILE* file, std::int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence);
#else
    return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

bool prepare(Stream& stream, std::FILE* file, bool writing) {
    stream = Stream{};
    stream.file = file;
    stream.writing = writing;
    stream.buffer = static_cast<std::uint8_t*>(std::malloc(kStreamBufferSize));
    if (stream.buffer == nullptr || std::setvbuf(file, nullptr, _IONBF, 0) != 0) {
        std::free(stream.buffer);
        std::fclose(file);
        stream = Stream{};
        errno = ENOMEM;
        return false;
    }
    return true;
}

std::size_t readFile(Stream& stream, std::uint8_t* out, std::size_t count) {
    const std::size_t got = std::fread(out, 1, count, stream.file);
    if (got < count && std::ferror(stream.file)) fail(stream);
    return got;
}

}  // namespace

bool streamOpen(Stream& stream, const char* name, const char* mode) {
    errno = 0;
    std::FILE* file = std::fopen(name, mode);
    if (file == nullptr) {
        if (errno == 0) errno = ENOENT;
        return false;
    }
    if (!prepare(stream, file, mode[0] == 'w')) return false;
    remember(stream);
    return true;
}

bool streamAttach(Stream& stream, std::FILE* file, bool writing) {
    return prepare(stream, file, writing);
}

std::size_t streamFill(Stream& stream, std::uint8_t* out, std::size_t count) {
    std::size_t done = stream.end - stream.begin;
    std::memcpy(out, stream.buffer + stream.begin, done);
    stream.begin = stream.end = 0;
    if (count - done >= kStreamBufferSize) {
        done += readFile(stream, out + done, count - done);
    } else {
        stream.end = readFile(stream, stream.buffer, kStreamBufferSize);
        const std::size_t take = std::min(stream.end, count - done);
        std::memcpy(out + done, stream.buffer, take);
        stream.begin = take;
        done += take;
    }
    stream.position += static_cast<std::int64_t>(done);
    return done;
}

std::size_t streamReadDirect(Stream& stream, void* out, std::size_t count) {
    stream.begin = stream.end = 0;
    const std::size_t got = readFile(stream, static_cast<std::uint8_t*>(out), count);
    stream.position += static_cast<std::int64_t>(got);
    return got;
}

bool streamDrain(Stream& stream, const std::uint8_t* data, std::size_t count) {
    if (!streamFlush(stream)) return false;
    if (count >= kStreamBufferSize) {
        if (std::fwrite(data, 1, count, stream.file) != count) return fail(stream);
    } else {
        std::memcpy(stream.buffer, data, count);
        stream.end = count;
    }
    stream.position += static_cast<std::int64_t>(count);
    return true;
}

bool streamFlush(Stream& stream) {
    if (!stream.writing || stream.end == 0) return stream.error == 0;
    const std::size_t pending = stream.end;
    stream.end = 0;
    if (std::fwrite(stream.buffer, 1, pending, stream.file) != pending) return fail(stream);
    return stream.error == 0;
}

bool streamSeek(Stream& stream, std::int64_t offset) {
    if (offset < 0) {
        errno = EINVAL;
        return fail(stream);
    }
    if (stream.writing && !streamFlush(stream)) return false;
    stream.begin = stream.end = 0;
    if (seekFile(stream.file, offset, SEEK_SET) != 0) return fail(stream);
    stream.position = offset;
    return true;
}

bool streamFileKind(Stream& stream, FileKind& kind, std::uint64_t& size) {
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(_fileno(stream.file), &st) != 0) return fail(stream);
#else
    struct stat st;
    if (fstat(fileno(stream.file), &st) != 0) return fail(stream);
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
    bool ok = streamFlush(stream);
    errno = 0;
    if (std::fclose(stream.file) != 0 && ok) {
        fail(stream);
        ok = false;
    }
    std::free(stream.buffer);
    forget(stream);
    stream.file = nullptr;
    stream.buffer = nullptr;
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
        if (!streamFlush(*slot)) ok = false;
        std::free(slot->buffer);
        slot->buffer = nullptr;
        slot->file = nullptr;
        slot = nullptr;
        ++expected;
    }
    if (_fcloseall() != expected) ok = false;
#else
    for (Stream* slot : openStreams) {
        if (slot != nullptr && !streamClose(*slot)) ok = false;
    }
#endif
    return ok;
}

}  // namespace graybmp
