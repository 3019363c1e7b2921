#include "jobs/OutputPaths.h"

#include <QDir>
#include <QFileInfo>

namespace trimora {

QString ResolvedPath(const QString& path) {
    const QFileInfo file(QDir::fromNativeSeparators(path));
    if (const QString canonical = file.canonicalFilePath(); !canonical.isEmpty()) return canonical;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    if (!folder.isEmpty()) return folder + "/" + file.fileName();
    return QDir::cleanPath(file.absoluteFilePath());
}

}  // namespace trimora
