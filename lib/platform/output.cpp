#include "platform/output.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>

#include "platform/wide.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace graybmp {
namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void madeHook(const OutputFile& file) {
    if (file.told != nullptr) file.told(file.context, file.temporary.c_str(), true);
}

void goneHook(const OutputFile& file) {
    if (file.told != nullptr) file.told(file.context, file.temporary.c_str(), false);
}

// Six letters of a temporary's name, different for each try, process and moment.
std::string suffixOf(std::uint64_t seed) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, 'A');
    for (char& c : suffix) {
        seed ^= seed >> 33;
        seed *= 0xff51afd7ed558ccdull;
        seed ^= seed >> 33;
        c = kLetters[seed % 62];
    }
    return suffix;
}

}  // namespace

#ifdef _WIN32

namespace {

// An existing output, opened through its links: the file they lead to, which must be a
// file on disk (not a folder or a device). False with errno set when it is not.
bool resolveExisting(std::string& target) {
    HANDLE handle = CreateFileW(widePath(target).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;  // no output yet
    BY_HANDLE_FILE_INFORMATION info{};
    const bool folder = GetFileInformationByHandle(handle, &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    std::wstring final(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(handle, &final[0], 32767, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (folder || !disk) {
        errno = folder ? EISDIR : EINVAL;
        return false;
    }
    if (n > 0 && n < 32767) {
        final.resize(n);
        target = utf8Path(final);
    }
    return true;
}

}  // namespace

bool outputCreate(OutputFile& file, const char* name, Stream& stream) {
    file.target = name;
    if (!resolveExisting(file.target)) return false;
    const std::string stem = folderOf(file.target) + "." + baseOf(file.target) + ".";
    const std::uint64_t seed = (std::uint64_t{GetCurrentProcessId()} << 32) ^ GetTickCount64() ^
                               reinterpret_cast<std::uintptr_t>(&file);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = stem + suffixOf(seed + attempt);
        HANDLE handle = CreateFileW(widePath(temporary).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            errno = EACCES;
            return false;
        }
        file.temporary = temporary;
        madeHook(file);
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
        std::FILE* c = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
        if (c == nullptr || !streamAttach(stream, c, true)) {
            if (c != nullptr) std::fclose(c);
            outputDiscard(file);
            errno = ENOMEM;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

bool outputCommit(OutputFile& file) {
    if (!MoveFileExW(widePath(file.temporary).c_str(), widePath(file.target).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
        return false;
    }
    goneHook(file);
    file.temporary.clear();
    return true;
}

void outputDiscard(OutputFile& file) {
    if (file.temporary.empty()) return;
    DeleteFileW(widePath(file.temporary).c_str());
    goneHook(file);
    file.temporary.clear();
}

#else

namespace {

// Follows symbolic links to the file they lead to, as opening the name would; a link to
// nothing leads to the file it names. `exists` tells whether that file is there, and `st`
// is then what it is.
bool resolveLinks(std::string& path, bool& exists, struct stat& st) {
    for (int hops = 0; hops < 40; ++hops) {
        exists = lstat(path.c_str(), &st) == 0;
        if (!exists) return errno == ENOENT;
        if (!S_ISLNK(st.st_mode)) return true;
        std::string link(4096, '\0');
        const ssize_t n = readlink(path.c_str(), &link[0], link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(n));
        path = link[0] == '/' ? link : folderOf(path) + link;
    }
    errno = ELOOP;
    return false;
}

// The asynchronous signals a program may end on are held off in this thread while the
// temporary is made and its name handed to `told`, so that a handler that removes it
// never misses it. Returns the mask to give back.
sigset_t holdSignals() {
    sigset_t set, before;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &before);
    return before;
}

void releaseSignals(const sigset_t& before) { pthread_sigmask(SIG_SETMASK, &before, nullptr); }

// Makes a new file of a fresh name beside `stem`, mode 0666 less the umask (the kernel's
// doing at open); the descriptor, or -1 with errno set.
int createTemporary(const std::string& stem, std::string& temporary) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t seed = (static_cast<std::uint64_t>(getpid()) << 40) ^
                               static_cast<std::uint64_t>(now.tv_nsec) ^
                               (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                               reinterpret_cast<std::uintptr_t>(&temporary);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + suffixOf(seed + attempt);
        const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

bool outputCreate(OutputFile& file, const char* name, Stream& stream) {
    file.target = name;
    struct stat existing;
    bool exists = false;
    if (!resolveLinks(file.target, exists, existing)) return false;
    if (exists && !S_ISREG(existing.st_mode)) {
        errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
        return false;
    }

    std::string temporary;
    const sigset_t before = holdSignals();
    const int fd = createTemporary(folderOf(file.target) + "." + baseOf(file.target) + ".",
                                   temporary);
    const int error = errno;
    if (fd >= 0) {
        file.temporary = temporary;
        madeHook(file);
    }
    releaseSignals(before);
    if (fd < 0) {
        errno = error;
        return false;
    }
    // A replaced file's owner too, where that is allowed (as root), then its mode, which a
    // change of owner may clear.
    bool moded = true;
    if (exists) {
        if (existing.st_uid != geteuid() || existing.st_gid != getegid())
            (void)!fchown(fd, existing.st_uid, existing.st_gid);
        moded = fchmod(fd, existing.st_mode & 07777) == 0;
    }
    std::FILE* c = moded ? fdopen(fd, "wb") : nullptr;
    if (c == nullptr || !streamAttach(stream, c, true)) {
        const int why = errno;
        c != nullptr ? static_cast<void>(std::fclose(c)) : static_cast<void>(close(fd));
        outputDiscard(file);
        errno = why;
        return false;
    }
    return true;
}

bool outputCommit(OutputFile& file) {
    if (std::rename(file.temporary.c_str(), file.target.c_str()) != 0) return false;
    goneHook(file);
    file.temporary.clear();
    return true;
}

void outputDiscard(OutputFile& file) {
    if (file.temporary.empty()) return;
    unlink(file.temporary.c_str());
    goneHook(file);
    file.temporary.clear();
}

#endif

}  // namespace graybmp
