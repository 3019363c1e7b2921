#include "output/OutputNames.h"

namespace trimora {

namespace {
// Index of the "." that starts the file name's extension, or -1.
qsizetype ExtensionDot(const QString& path) {
    const qsizetype separator = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    const qsizetype dot = path.lastIndexOf('.');
    return dot > separator ? dot : -1;
}
}  // namespace

QString PathStem(const QString& path) {
    const qsizetype dot = ExtensionDot(path);
    return dot < 0 ? path : path.left(dot);
}

QString FileExtension(const QString& path) {
    const qsizetype dot = ExtensionDot(path);
    return dot < 0 ? QString() : path.mid(dot + 1);
}

QString ReplaceExtension(const QString& path, const QString& oldExtension, const QString& newExtension) {
    const qsizetype dot = ExtensionDot(path);
    if (dot < 0 || oldExtension.isEmpty() || path.mid(dot + 1) != oldExtension) return path;
    return path.left(dot + 1) + newExtension;
}

}  // namespace trimora
