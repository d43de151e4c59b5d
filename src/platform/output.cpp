#include "platform/output.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/files.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace graybmp {
namespace {

// The temporary's name as the signal handler sees it: set while the file exists.
char pendingTemporary[4096];
#ifdef _WIN32
wchar_t pendingWide[4096];  // the same, for the console handler's wide call
#endif

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool remember(const std::string& temporary) {
    if (temporary.size() >= sizeof pendingTemporary) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(pendingTemporary, temporary.c_str(), temporary.size() + 1);
#ifdef _WIN32
    const std::wstring wide = widePath(temporary);
    if (wide.size() >= sizeof pendingWide / sizeof pendingWide[0]) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(pendingWide, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
#endif
    return true;
}

}  // namespace

#ifdef _WIN32

namespace {

BOOL WINAPI onConsoleEvent(DWORD event) {
    // The temporary is open with delete sharing: deleting it here removes it as soon as
    // the process ends.
    if (pendingTemporary[0] != '\0') DeleteFileW(pendingWide);
    restoreConsole();
    ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 128 + SIGINT : 128 + 1);
    return TRUE;
}

}  // namespace

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
    wchar_t final[32768];
    const DWORD n = GetFinalPathNameByHandleW(handle, final, 32767, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (folder || !disk) {
        errno = folder ? EISDIR : EINVAL;
        return false;
    }
    if (n > 0 && n < 32767) target = utf8Path(final);
    return true;
}

bool outputCreate(OutputFile& file, const char* name, Stream& stream) {
    file.target = name;
    if (!resolveExisting(file.target)) return false;
    const std::string stem = folderOf(file.target) + "." + baseOf(file.target) + ".";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%06lx",
                      (GetCurrentProcessId() * 7919ul + GetTickCount() + attempt) & 0xFFFFFFul);
        const std::string temporary = stem + suffix;
        if (!remember(temporary)) return false;
        HANDLE handle = CreateFileW(widePath(temporary).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            pendingTemporary[0] = '\0';
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            errno = EACCES;
            return false;
        }
        file.temporary = temporary;
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
        std::FILE* c = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
        if (c == nullptr || !streamAttach(stream, c, true, true)) {
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
    pendingTemporary[0] = '\0';
    file.temporary.clear();
    return true;
}

void outputDiscard(OutputFile& file) {
    if (!file.temporary.empty()) DeleteFileW(widePath(file.temporary).c_str());
    pendingTemporary[0] = '\0';
    file.temporary.clear();
}

void installInterruptHandlers() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

#else

namespace {

// Async-signal-safe: unlink, the console's restore and _exit only.
extern "C" void onInterrupt(int signal) {
    if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
    restoreConsole();
    _exit(128 + signal);
}

// The signals that end the run are held off while the temporary's name changes hands;
// returns the mask to give back.
sigset_t holdInterrupts() {
    sigset_t set, before;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, &before);
    return before;
}

void releaseInterrupts(const sigset_t& before) { sigprocmask(SIG_SETMASK, &before, nullptr); }

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

// The process's umask, read once: reading it means setting it twice.
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
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
    const mode_t mode = exists ? existing.st_mode & 07777 : 0666 & ~processUmask();

    std::string temporary = folderOf(file.target) + "." + baseOf(file.target) + ".XXXXXX";
    const sigset_t before = holdInterrupts();
    const int fd = mkstemp(&temporary[0]);
    const int error = errno;
    const bool named = fd >= 0 && remember(temporary);
    if (named) file.temporary = temporary;
    releaseInterrupts(before);
    if (fd < 0 || !named) {
        if (fd >= 0) {
            close(fd);
            unlink(temporary.c_str());
        }
        errno = fd < 0 ? error : ENAMETOOLONG;
        return false;
    }
    // The owner too, where that is allowed (as root); the mode after it, which a change of
    // owner may clear.
    static const uid_t user = geteuid();
    static const gid_t group = getegid();
    if (exists && (existing.st_uid != user || existing.st_gid != group))
        (void)!fchown(fd, existing.st_uid, existing.st_gid);
    std::FILE* c = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (c == nullptr || !streamAttach(stream, c, true, true)) {
        const int why = errno;
        c != nullptr ? static_cast<void>(std::fclose(c)) : static_cast<void>(close(fd));
        outputDiscard(file);
        errno = why;
        return false;
    }
    return true;
}

// A signal between the rename (or the unlink) and forgetting the name finds no file of
// that name left to remove: nothing needs holding off here.
bool outputCommit(OutputFile& file) {
    const bool moved = std::rename(file.temporary.c_str(), file.target.c_str()) == 0;
    if (moved) {
        pendingTemporary[0] = '\0';
        file.temporary.clear();
    }
    return moved;
}

void outputDiscard(OutputFile& file) {
    if (!file.temporary.empty()) unlink(file.temporary.c_str());
    pendingTemporary[0] = '\0';
    file.temporary.clear();
}

void installInterruptHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

#endif

}  // namespace graybmp
