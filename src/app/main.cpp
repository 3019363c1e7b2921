// Trimora's entry: the main window on the real engine and the desktop's own dialogs.
//   trimora [FILE]          opens FILE after start-up, as if chosen in the Open dialog
//   trimora --check-install starts, reports what it found of its data and ends (0: all found)
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/Desktop.h"
#include "app/Platform.h"
#include "app/frmMain.h"
#include "engine/EngineFactory.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trimora");
    QApplication::setDesktopFileName("trimora");
    // Named files are taken relative to the folder the program was started in, before start-up
    // makes the program's folder the current one.
    const QStringList files = trimora::FilesFromArguments(QApplication::arguments(), QDir::currentPath());
    auto engine = trimora::CreateRealEngineFactory();
    trimora::QtPlatform platform;
    trimora::frmMain window(*engine, platform, trimora::ProgramFolderFor(QApplication::applicationDirPath()));
    window.Form_Load();
    if (QApplication::arguments().contains("--check-install")) {
        bool complete = false;
        std::puts(trimora::InstallReport(window, complete).toLocal8Bit().constData());
        window.close();
        return complete ? 0 : 1;
    }
    if (!files.isEmpty()) QTimer::singleShot(0, &window, [&window, file = files.first()] { window.OpenFromDesktop(file); });
    return app.exec();
}
