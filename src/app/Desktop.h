#pragma once
// Where the program meets the desktop around it: its data folder, files handed over on the
// command line, and the start-up check of an installed copy.
#include <QString>
#include <QStringList>

namespace trimora {

class frmMain;

// The folder holding Languages/, trimora.skn and trimora.chm for a program in `binaryFolder`:
// beside the binary (the build tree, or a copy unpacked in one folder) when the data is there,
// otherwise the installed data folder that belongs to the binary's folder.
QString ProgramFolderFor(const QString& binaryFolder);

// The files named on a command line (program name first), as absolute paths resolved against
// `currentFolder`; file URLs are taken as their local paths, options (a leading "-") are
// skipped.
QStringList FilesFromArguments(const QStringList& arguments, const QString& currentFolder);

// What a started window found of its data, one line each; `complete` tells whether it found
// its languages, its skin and its help.
QString InstallReport(frmMain& window, bool& complete);

}  // namespace trimora
