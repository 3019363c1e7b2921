#include "jobs/OutputPaths.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>

namespace trimora {

QString ResolvedPath(const QString& path) {
    const QFileInfo file(QDir::fromNativeSeparators(path));
    if (const QString canonical = file.canonicalFilePath(); !canonical.isEmpty()) return canonical;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    if (!folder.isEmpty()) return folder + "/" + file.fileName();
    return QDir::cleanPath(file.absoluteFilePath());
}

bool SameFile(const QString& first, const QString& second) {
    namespace fs = std::filesystem;
    const fs::path a(QDir::fromNativeSeparators(first).toStdString());
    const fs::path b(QDir::fromNativeSeparators(second).toStdString());
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error)) {
        const bool same = fs::equivalent(a, b, error);
        if (!error) return same;
    }
    return ResolvedPath(first) == ResolvedPath(second);
}

}  // namespace trimora
