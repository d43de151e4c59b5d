// The names of the outputs.
#pragma once

#include <string>

namespace graybmp {

// The input's name with "NEW" before its extension: photo.bmp -> photoNEW.bmp,
// dir/x.y.bmp -> dir/x.yNEW.bmp, noext -> noextNEW. A leading dot starts no extension.
std::string newName(const std::string& input);

// The input's own file name in `folder`: out + a/x.bmp -> out/x.bmp.
std::string nameInFolder(const std::string& folder, const std::string& input);

}  // namespace graybmp
