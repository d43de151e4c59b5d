// What the command line needs of the file system and the console: arguments as UTF-8,
// wildcards where no shell expands them, the kind and identity of a named file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace graybmp {

// The arguments, program name first, in UTF-8 (on Windows read from the wide command line,
// so that any name works).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// On Windows, where no shell does it, the names that an operand with `*` or `?` in its
// last part matches, in name order; the operand itself when it matches nothing. Elsewhere
// the operand as it is.
std::vector<std::string> expandWildcards(const std::string& operand);

enum class PathKind { Missing, Regular, Directory, Pipe, Other };

// A file's identity: two names with the same identity are one file.
struct FileIdentity {
    std::uint64_t device = 0, file = 0;
    bool operator==(const FileIdentity& other) const {
        return device == other.device && file == other.file;
    }
};

struct FileIdentityHash {
    std::size_t operator()(const FileIdentity& id) const {
        return std::hash<std::uint64_t>()(id.file * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// What a name leads to, through its links, and that file's identity when `identity` is
// not null.
PathKind pathKind(const std::string& path, FileIdentity* identity = nullptr);

// False when the name leads to no file.
inline bool fileIdentity(const std::string& path, FileIdentity& identity) {
    return pathKind(path, &identity) != PathKind::Missing;
}

// Whether standard error is a terminal (the progress line is drawn only there).
bool errorsToTerminal();

// Whether the file `path` starts as a picture of another format does (PNG, JPEG, WebP,
// GIF, netpbm); false when it cannot be read.
bool isPicture(const std::string& path);

// Makes a folder, mode 0777 less the umask; false with errno set.
bool makeFolder(const std::string& path);

// Removes a folder if it is empty; nothing otherwise.
void removeEmptyFolder(const std::string& path);

#ifdef _WIN32
std::wstring wideName(const std::string& utf8);
std::string utf8Name(const std::wstring& wide);
#endif

}  // namespace graybmp
