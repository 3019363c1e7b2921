#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
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

void QtPlatform::ShellOpen(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

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
