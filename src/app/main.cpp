// Trimora's entry: the main window on the real engine and the desktop's own dialogs.
#include <QApplication>
#include <QDir>

#include "app/Platform.h"
#include "app/frmMain.h"
#include "engine/EngineFactory.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trimora");
    auto engine = trimora::CreateRealEngineFactory();
    trimora::QtPlatform platform;
    trimora::frmMain window(*engine, platform, QDir(QApplication::applicationDirPath()).absolutePath());
    window.Form_Load();
    return app.exec();
}
