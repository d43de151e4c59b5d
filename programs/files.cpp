#include "files.h"

#include <cstdio>

#include "graybmp.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on
#else
#include <unistd.h>
#endif

namespace graybmp {

#ifdef _WIN32

std::wstring wideName(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string utf8Name(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(utf8Name(wide[i]));
    LocalFree(wide);
    return args;
}

std::vector<std::string> expandWildcards(const std::string& operand) {
    const std::size_t slash = operand.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : operand.substr(0, slash + 1);
    if (operand.find_first_of("*?", folder.size()) == std::string::npos) return {operand};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wideName(operand).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {operand};
    std::vector<std::string> names;
    do {
        const std::string name = utf8Name(found.cFileName);
        if (name != "." && name != "..") names.push_back(folder + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names.empty() ? std::vector<std::string>{operand} : names;
}

PathKind pathKind(const std::string& path, FileIdentity* identity) {
    HANDLE handle = CreateFileW(wideName(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return PathKind::Missing;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool got = GetFileInformationByHandle(handle, &info) != 0;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (!got) return PathKind::Other;
    if (identity != nullptr) {
        identity->device = info.dwVolumeSerialNumber;
        identity->file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    if (type == FILE_TYPE_PIPE) return PathKind::Pipe;
    return type == FILE_TYPE_DISK ? PathKind::Regular : PathKind::Other;
}

bool errorsToTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool makeFolder(const std::string& path) {
    if (CreateDirectoryW(wideName(path).c_str(), nullptr)) return true;
    errno = GetLastError() == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
    return false;
}

void removeEmptyFolder(const std::string& path) { RemoveDirectoryW(wideName(path).c_str()); }

#else

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::vector<std::string> expandWildcards(const std::string& operand) { return {operand}; }

PathKind pathKind(const std::string& path, FileIdentity* identity) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (identity != nullptr) {
        identity->device = static_cast<std::uint64_t>(st.st_dev);
        identity->file = static_cast<std::uint64_t>(st.st_ino);
    }
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ? PathKind::Pipe : PathKind::Other;
}

bool errorsToTerminal() { return isatty(STDERR_FILENO) != 0; }

bool makeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

void removeEmptyFolder(const std::string& path) { (void)rmdir(path.c_str()); }

#endif

bool isPicture(const std::string& path) {
#ifdef _WIN32
    std::FILE* file = _wfopen(wideName(path).c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    if (file == nullptr) return false;
    unsigned char lead[16];
    const std::size_t got = std::fread(lead, 1, sizeof lead, file);
    std::fclose(file);
    return graybmp_picture_kind(lead, got) != GRAYBMP_KIND_NONE;
}

}  // namespace graybmp
