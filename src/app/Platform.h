#pragma once
// What the window needs from the desktop beyond its own controls: modal message boxes, the
// file dialog, opening a document with its viewer, the tick clock and running a modal window.
// The program uses QtPlatform; tests replace it with scripted answers so nothing blocks.
#include <QString>
#include <cstdint>
#include <optional>

class QDialog;
class QWidget;

namespace trimora {

enum class MessageIcon { None, Critical, Information };

enum class FileDialogMode { Open, Save };

struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    QString title;
    QString fileName;     // proposed name (folder and file)
    QString folder;       // where the dialog starts when the proposed name has no folder of its own
    QString filter;       // "Description|patterns|Description|patterns|"
    int filterIndex = 1;  // row of the filter, from 1
    int flags = 0;        // 2: ask before overwriting an existing file
};

struct FileDialogAnswer {
    QString fileName;
    int filterIndex = 1;
};

class Platform {
public:
    virtual ~Platform() = default;
    virtual void MessageBox(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // Nothing when the user cancelled.
    virtual std::optional<FileDialogAnswer> ShowFileDialog(QWidget* owner, const FileDialogRequest& request) = 0;
    // Asks whether an existing file may be replaced.
    virtual bool ConfirmOverwrite(QWidget* owner, const QString& path) = 0;
    // Opens a document with the desktop's viewer for it; false when the file is missing or the
    // desktop has no program for it.
    virtual bool ShellOpen(const QString& path) = 0;
    virtual uint32_t TickCount() = 0;
    virtual void RunModal(QDialog* dialog) = 0;
};

// The desktop's own message boxes, file dialogs, viewer and clock.
class QtPlatform : public Platform {
public:
    void MessageBox(QWidget* owner, const QString& text, MessageIcon icon) override;
    std::optional<FileDialogAnswer> ShowFileDialog(QWidget* owner, const FileDialogRequest& request) override;
    bool ConfirmOverwrite(QWidget* owner, const QString& path) override;
    bool ShellOpen(const QString& path) override;
    uint32_t TickCount() override;
    void RunModal(QDialog* dialog) override;
};

}  // namespace trimora
