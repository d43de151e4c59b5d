#include "walk.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace graybmp {
namespace {

bool separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The last name of a folder operand, or empty for ".", ".." and "/" (whose contents go
// straight into the output folder).
std::string lastName(const std::string& operand) {
    std::size_t end = operand.size();
    while (end > 0 && separator(operand[end - 1])) --end;
    std::size_t start = end;
    while (start > 0 && !separator(operand[start - 1])) --start;
    const std::string last = operand.substr(start, end - start);
    return last == "." || last == ".." ? "" : last;
}

enum class Entry { Folder, File, Other };

struct Listed {
    std::string name;
    Entry kind;
    FileIdentity id;
};

// A folder's entries, sorted by name; false (errno set) when it cannot be read.
bool list(const std::string& folder, std::vector<Listed>& entries) {
#ifdef _WIN32
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(wideName(joined(folder, "*")).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return false;
    }
    do {
        const std::string name = utf8Name(data.cFileName);
        if (name == "." || name == "..") continue;
        Listed e{name, Entry::Other, {}};
        const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const PathKind kind = pathKind(joined(folder, name), &e.id);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            e.kind = reparse ? Entry::Other : Entry::Folder;  // junctions are not followed
        else if (kind == PathKind::Regular)
            e.kind = Entry::File;
        entries.push_back(e);
    } while (FindNextFileW(search, &data));
    FindClose(search);
#else
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    for (dirent* d; (d = readdir(dir)) != nullptr;) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = joined(folder, name);
        struct stat link, st;
        Listed e{name, Entry::Other, {}};
        if (lstat(path.c_str(), &link) == 0 && stat(path.c_str(), &st) == 0) {
            e.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
            if (S_ISDIR(st.st_mode) && !S_ISLNK(link.st_mode)) e.kind = Entry::Folder;
            if (S_ISREG(st.st_mode)) e.kind = Entry::File;  // a file, or a link to one
        }
        entries.push_back(e);
    }
    closedir(dir);
#endif
    std::sort(entries.begin(), entries.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return true;
}

void walk(const std::string& folder, const std::string& subfolder, const FileIdentity* skip,
          std::unordered_set<FileIdentity, FileIdentityHash>& seen, std::vector<Found>& found,
          std::vector<Unread>& unread, bool pictures) {
    std::vector<Listed> entries;
    if (!list(folder, entries)) {
        unread.push_back({folder, std::string("cannot open the folder: ") + std::strerror(errno)});
        return;
    }
    for (const Listed& e : entries) {
        const std::string path = joined(folder, e.name);
        if (e.kind == Entry::File && (bitmapName(e.name) || (pictures && pictureName(e.name)))) {
            found.push_back({path, subfolder, e.id});
        } else if (e.kind == Entry::Folder && !(skip != nullptr && e.id == *skip) &&
                   seen.insert(e.id).second) {
            walk(path, subfolder.empty() ? e.name : joined(subfolder, e.name), skip, seen, found,
                 unread, pictures);
        }
    }
}

}  // namespace

bool pictureName(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string end = name.substr(dot + 1);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* e : {"png", "jpg", "jpeg", "jpe", "webp", "gif", "pbm", "pgm", "ppm", "pnm", "pam"})
        if (end == e) return true;
    return false;
}

bool bitmapName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == ".bmp" || end == ".dib";
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return separator(folder.back()) ? folder + name : folder + "/" + name;
}

void walkFolder(const std::string& operand, const FileIdentity* skip, std::vector<Found>& found,
                std::vector<Unread>& unread, bool pictures) {
    std::unordered_set<FileIdentity, FileIdentityHash> seen;
    FileIdentity self;
    if (fileIdentity(operand, self)) seen.insert(self);
    walk(operand, lastName(operand), skip, seen, found, unread, pictures);
}

}  // namespace graybmp
