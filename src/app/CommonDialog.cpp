#include "app/CommonDialog.h"

#include <QFileInfo>
#include <QStringList>

#include "app/UserSettings.h"

namespace trimora {

void CommonDialog::Show(FileDialogMode mode) {
    FileDialogRequest request;
    request.mode = mode;
    request.title = DialogTitle;
    request.fileName = FileName;
    request.filter = Filter;
    request.filterIndex = FilterIndex;
    request.flags = Flags;
    request.folder = LastFolder();
    Accepted = false;
    const auto answer = platform_.ShowFileDialog(owner_, request);
    Accepted = answer.has_value();
    if (!answer) {
        if (CancelError) throw DialogCancelled();
        return;  // FileName keeps its value
    }
    FileName = answer->fileName;
    FilterIndex = answer->filterIndex;
    RememberFolderOf(FileName);
}

QString CommonDialog::LastFolder() { return UserSettings().value("Settings/LastFolder").toString(); }

void CommonDialog::RememberFolderOf(const QString& path) {
    if (path.isEmpty()) return;
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir()) UserSettings().setValue("Settings/LastFolder", folder);
}

QList<FilterRow> ParseFilter(const QString& filter) {
    QList<FilterRow> rows;
    const QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) rows.append({parts[i], parts[i + 1]});
    return rows;
}

}  // namespace trimora
