#pragma once
// The language files on offer: the "*.ini" files of the language folder.
#include <string>
#include <vector>

namespace trimora {

// File names (name and extension, no folder) of the regular files in `folder` whose extension
// is ".ini" in any letter case, sorted without regard to letter case as a file list shows them.
// Hidden files (names beginning with ".") are left out. Empty for a missing folder.
std::vector<std::string> ListLanguageFiles(const std::string& folder);

}  // namespace trimora
