#pragma once
#include <QString>

namespace trimora {

// The path a name refers to, with links and "." / ".." resolved and relative names taken from
// the current folder, so that two names for one file compare equal. A file that does not exist
// yet is named by its folder's resolved path and its own name.
QString ResolvedPath(const QString& path);

}  // namespace trimora
