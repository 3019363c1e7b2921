#pragma once
// The window's single file dialog object. It keeps its properties from one use to the next,
// as the handlers that share it expect.
#include <QString>
#include <stdexcept>

#include "app/Platform.h"

class QWidget;

namespace trimora {

// Raised by ShowOpen/ShowSave when the user cancels while CancelError is true.
class DialogCancelled : public std::runtime_error {
public:
    DialogCancelled() : std::runtime_error("Cancel was selected.") {}
};

class CommonDialog {
public:
    CommonDialog(Platform& platform, QWidget* owner) : platform_(platform), owner_(owner) {}

    QString FileName;
    QString DialogTitle;
    QString Filter;
    int FilterIndex = 0;
    int Flags = 0;
    bool CancelError = false;
    // The last ShowOpen/ShowSave ended with a name the user accepted (not cancelled).
    bool Accepted = false;

    void ShowOpen() { Show(FileDialogMode::Open); }
    void ShowSave() { Show(FileDialogMode::Save); }

    // The folder of the file last chosen, kept with the per-user settings: the dialogs start
    // there, also after a restart.
    static QString LastFolder();
    static void RememberFolderOf(const QString& path);

private:
    void Show(FileDialogMode mode);
    Platform& platform_;
    QWidget* owner_;
};

// The rows of a filter text "Description|patterns|...", as (description, patterns) pairs.
struct FilterRow {
    QString description;
    QString patterns;
};
QList<FilterRow> ParseFilter(const QString& filter);

}  // namespace trimora
