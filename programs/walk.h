// Folders of folders: what `-r` finds under a folder operand, and where each copy goes.
#pragma once

#include <string>
#include <vector>

#include "files.h"

namespace graybmp {

// One input the walk found, and the folder under the output folder its copy goes in.
struct Found {
    std::string input;      // the operand joined with the path inside it: scans/a/b.bmp
    std::string subfolder;  // under the output folder: "scans/a", "a" or "" for straight in
    FileIdentity id;        // the file's (a link's target's)
};

// Walks the folder `operand` depth first, each folder's entries in byte order of their
// names (UTF-8 on Windows): every regular file, or link to one, whose name ends in .bmp
// or .dib (any case). Links to folders, reparse points and every other kind of entry are
// passed over, and so is `skip` (the output folder, by identity) and any folder met
// before (device and file number), so that loops end. The copies' subfolders are the
// operand's own last name (none for ".", ".." and "/") joined with the path inside.
// A folder of the tree that could not be read, and why.
struct Unread {
    std::string folder, reason;
};

// `unread` gets the folders that could not be read. With `pictures`, names that end in a
// picture's extension (pictureName) are taken too.
void walkFolder(const std::string& operand, const FileIdentity* skip, std::vector<Found>& found,
                std::vector<Unread>& unread, bool pictures = false);

// Whether a name ends in .png, .jpg, .jpeg, .jpe, .webp, .gif, .pbm, .pgm, .ppm, .pnm or
// .pam, in any case.
bool pictureName(const std::string& name);

// Whether a name ends in .bmp or .dib, in any case.
bool bitmapName(const std::string& name);

// `folder` and `name` with one separator between them.
std::string joined(const std::string& folder, const std::string& name);

}  // namespace graybmp
