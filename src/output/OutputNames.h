#pragma once
// Naming of output files from the input path and the chosen container. Only the file name's own
// extension counts (the last "." after the last path separator), so dots in folder names are
// never taken for an extension.
#include <QString>

namespace trimora {

// The path without its file name's extension; the whole path when the file name has none.
QString PathStem(const QString& path);

// The file name's extension (text after its last "."), or an empty string when it has none.
QString FileExtension(const QString& path);

// `path` with its file name's extension `oldExtension` replaced by `newExtension`. Left unchanged
// when the file name has no extension, ends in a dot, or carries another extension.
QString ReplaceExtension(const QString& path, const QString& oldExtension, const QString& newExtension);

}  // namespace trimora
