// The names of the outputs.
#pragma once

#include <string>

namespace graybmp {

// The input's name with "NEW" before its extension: photo.bmp -> photoNEW.bmp,
// dir/x.y.bmp -> dir/x.yNEW.bmp, noext -> noextNEW. A leading dot starts no extension.
// A picture's takes .bmp for its extension: photo.jpg -> photoNEW.bmp.
std::string newName(const std::string& input, bool picture = false);

// A picture's name with .bmp for its extension: a/photo.jpg -> a/photo.bmp.
std::string asBitmapName(const std::string& input);

// The input's own file name in `folder`: out + a/x.bmp -> out/x.bmp.
std::string nameInFolder(const std::string& folder, const std::string& input);

}  // namespace graybmp
