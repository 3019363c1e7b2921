#pragma once
// A main window on the scripted engine and desktop, with its program folder, registry and
// per-user settings in a fresh temporary folder, so tests never touch the real ones.
#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "FakeEngine.h"
#include "app/frmMain.h"

namespace trimora::test {

class WindowFixture : public ::testing::Test {
protected:
    FakeEngine engine;
    FakePlatform platform;
    std::unique_ptr<frmMain> window;
    QTemporaryDir temp;
    QString programFolder;

    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        programFolder = temp.path() + "/program";
        QDir().mkpath(programFolder + "/Languages");
        CopyLanguages();
        setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");
    }

    void TearDown() override {
        if (window) window->close();
        window.reset();
    }

    // Copies the shipped language files (or, with names, only those) into the program folder.
    void CopyLanguages(const QStringList& only = {}) {
        const QDir source(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages");
        for (const QString& name : source.entryList(QDir::Files)) {
            if (!only.isEmpty() && !only.contains(QFileInfo(name).completeBaseName())) continue;
            QFile::copy(source.filePath(name), programFolder + "/Languages/" + name);
        }
    }
    void RemoveLanguages() {
        QDir(programFolder + "/Languages").removeRecursively();
        QDir().mkpath(programFolder + "/Languages");
    }

    // Creates the window and runs its start-up.
    frmMain& Load() {
        window = std::make_unique<frmMain>(engine, platform, programFolder);
        window->Form_Load();
        return *window;
    }

    // Opens an input through the window (the fake reader answers from its fields).
    void Open(const QString& path = "/videos/clip.avi") { window->OpenInputFile(path); }

    FakeMediaFile& reader() { return engine.reader(); }
    FakeMediaFile& writer() { return engine.writer(); }
};

}  // namespace trimora::test
