#include "engine/AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace trimora {

std::string SaveFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    if (path.empty()) return "no file name was given";
    if (path.find('\0') != std::string::npos) return "the name holds a character the system does not accept";
    const QString name = QString::fromStdString(path);
    if (QFileInfo(name).isDir()) return "a folder of that name exists";
    // QSaveFile never falls back to writing the target in place, and its commit syncs the file
    // to disk before the rename.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(reinterpret_cast<const char*>(bytes.data()), size) != size || !file.flush()) {
        const std::string reason = file.errorString().toStdString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return file.errorString().toStdString();
    return {};
}

}  // namespace trimora
