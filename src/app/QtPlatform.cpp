#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "app/CommonDialog.h"
#include "app/Platform.h"

namespace trimora {

void QtPlatform::MessageBox(QWidget* owner, const QString& text, MessageIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(text);
    box.setIcon(icon == MessageIcon::Critical      ? QMessageBox::Critical
                : icon == MessageIcon::Information ? QMessageBox::Information
                                                   : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<FileDialogAnswer> QtPlatform::ShowFileDialog(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.title);
    dialog.setAcceptMode(request.mode == FileDialogMode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.mode == FileDialogMode::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (request.mode == FileDialogMode::Save && !(request.flags & 2))
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    QStringList filters;
    for (const FilterRow& row : ParseFilter(request.filter)) {
        QString patterns = row.patterns;
        patterns.replace(';', ' ');
        // The dialog reads a row's patterns from its last brackets: show the row's own patterns
        // there, once.
        QString description = row.description.trimmed();
        if (description.endsWith(')') && description.contains('('))
            description = description.left(description.lastIndexOf('(')).trimmed();
        filters << description + " (" + patterns.simplified() + ")";
    }
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    // The folder last used; before any, the user's videos (not the program's own folder).
    QString folder = request.folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!QFileInfo(folder).isDir()) folder = QDir::homePath();
    dialog.setDirectory(folder);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    FileDialogAnswer answer;
    answer.fileName = dialog.selectedFiles().first();
    answer.filterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return answer;
}

bool QtPlatform::ConfirmOverwrite(QWidget* owner, const QString& path) {
    return QMessageBox::question(owner, QCoreApplication::applicationName(),
                                 QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(path),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

namespace {

// Whether the desktop names a program for the file's type. The desktop's opener starts its
// programs in the background and cannot say whether one was found, so ask before handing over.
bool DesktopHasViewerFor(const QString& path) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString query = QStandardPaths::findExecutable("xdg-mime");
    if (query.isEmpty()) return true;  // no way to ask: let the desktop try
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList names = type.aliases();
    names.prepend(type.name());
    for (const QString& name : names) {
        QProcess process;
        process.start(query, {"query", "default", name});
        if (process.waitForFinished(5000) && !process.readAllStandardOutput().trimmed().isEmpty()) return true;
    }
    // The desktop's opener falls back to the web browser for web pages.
    if (type.inherits("text/html"))
        return !qEnvironmentVariableIsEmpty("BROWSER") || !QStandardPaths::findExecutable("x-www-browser").isEmpty();
    return false;
#else
    Q_UNUSED(path);
    return true;
#endif
}

}  // namespace

bool QtPlatform::ShellOpen(const QString& path) {
    if (!QFileInfo(path).isFile() || !DesktopHasViewerFor(path)) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

uint32_t QtPlatform::TickCount() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<uint32_t>(clock.elapsed());
}

void QtPlatform::RunModal(QDialog* dialog) { dialog->exec(); }

}  // namespace trimora
