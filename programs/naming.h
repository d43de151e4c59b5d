// The names of the outputs.
#pragma once

#include <string>

namespace graybmp {

// The input's name with "NEW" before its extension: photo.bmp -> photoNEW.bmp,
// dir/x.y.bmp -> dir/x.yNEW.bmp, noext -> noextNEW. A leading dot starts no extension.
// With `extension` (".bmp" for a picture, a format's) in place of its own: photo.jpg ->
// photoNEW.bmp.
std::string newName(const std::string& input, const char* extension = nullptr);

// The name with `extension` in place of its own: a/photo.jpg, ".h" -> a/photo.h.
std::string withExtension(const std::string& input, const char* extension);

// The extension of an output format's files (GRAYBMP_FORMAT_C: ".h").
const char* formatExtension(int format);

// The extension an input's output takes: the format's, a picture's .bmp, or null (its own).
const char* outputExtension(int format, bool picture);

// The input's own file name in `folder`: out + a/x.bmp -> out/x.bmp.
std::string nameInFolder(const std::string& folder, const std::string& input);

}  // namespace graybmp
