#pragma once
#include <QString>

namespace trimora {

// The path a name refers to, with links and "." / ".." resolved and relative names taken from
// the current folder, so that two names for one file compare equal. A file that does not exist
// yet is named by its folder's resolved path and its own name.
QString ResolvedPath(const QString& path);

// Whether two names refer to one file: when both exist, whether they are the same file on disk
// (device and inode, so hard links count too); otherwise whether their resolved paths agree.
bool SameFile(const QString& first, const QString& second);

}  // namespace trimora
