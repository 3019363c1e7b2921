#pragma once
// A main window on the real engine (FFmpeg, SDL2, the real preview and skin) with a scripted
// desktop, its program folder, registry and settings in a fresh temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "FakeEngine.h"
#include "TestClips.h"
#include "app/frmMain.h"

namespace trimora::test {

class RealWindowFixture : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString programFolder;
    FakePlatform platform;
    std::unique_ptr<EngineFactory> engine;
    std::unique_ptr<frmMain> window;

    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
        setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");
        programFolder = temp.path() + "/program";
        QDir().mkpath(programFolder + "/Languages");
        for (const char* file : {"English.ini", "English.bmp"})
            QFile::copy(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages/" + file,
                        programFolder + "/Languages/" + file);
        QFile::copy(QString(TRIMORA_BIN_DIR) + "/trimora.skn", programFolder + "/trimora.skn");
        engine = CreateRealEngineFactory();
    }

    void TearDown() override {
        if (window) window->close();
        window.reset();
    }

    frmMain& Load() {
        window = std::make_unique<frmMain>(*engine, platform, programFolder);
        window->Form_Load();
        return *window;
    }

    // Loads the window with the built skin and shows it (for tests of what the skin draws).
    void LoadSkinnedAndShow() {
        ASSERT_TRUE(QFile::exists(programFolder + "/trimora.skn"))
            << "build the skin bundle (target trimora_skin_bundle) first";
        Load();
        window->show();
    }

    // A folder inside the test's temporary folder.
    QString Folder(const QString& name) {
        const QString path = temp.path() + "/" + name;
        QDir().mkpath(path);
        return path;
    }

    // The stamp of the frame the window holds for the preview.
    int ShownStamp() const { return ReadStamp(window->FrameData_); }
};

}  // namespace trimora::test
