// Start-up and shutdown of the main window on the scripted engine.
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/WindowFixture.h"
#include "app/UserSettings.h"

namespace trimora::test {
namespace {

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    return entries;
}

class StartupTest : public WindowFixture {};

// `cmake --install` into a fresh prefix gives a program that starts from there and finds its
// languages, skin and help in the installed data folder, a menu entry the desktop accepts that
// offers every kind of video the Open dialog lists, and an icon.
TEST(InstallTest, TheInstalledProgramFindsItsDataAndHasAValidMenuEntry) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(TRIMORA_CMAKE, {"--install", TRIMORA_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();
    const QString data = prefix.path() + "/share/trimora";
    for (const QString& file : {data + "/Languages/English.ini", data + "/Languages/Italian.bmp",
                                data + "/trimora.skn", data + "/trimora.chm", data + "/help/index.html",
                                prefix.path() + "/share/icons/hicolor/48x48/apps/trimora.png"})
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    environment.insert("TRIMORA_REGISTRY_DIR", prefix.path() + "/registry");
    environment.insert("XDG_CONFIG_HOME", prefix.path() + "/config");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(prefix.path());
    program.start(prefix.path() + "/bin/trimora", {"--check-install"});
    ASSERT_TRUE(program.waitForFinished(60000));
    const QString report = QString::fromLocal8Bit(program.readAllStandardOutput());
    EXPECT_EQ(program.exitCode(), 0) << report.toStdString() << program.readAllStandardError().toStdString();
    EXPECT_TRUE(report.contains("program folder: " + QDir(data).absolutePath())) << report.toStdString();
    EXPECT_TRUE(report.contains("languages: English French German Italian Spanish")) << report.toStdString();
    EXPECT_TRUE(report.contains("skin: loaded")) << report.toStdString();

    const QString entry = prefix.path() + "/share/applications/trimora.desktop";
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("desktop-file-validate", {entry});
    ASSERT_TRUE(validate.waitForFinished(30000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_TRUE(validate.readAll().trimmed().isEmpty());
    // Every pattern of the Open dialog's first row names a type the entry offers.
    QFile desktopEntry(entry);
    ASSERT_TRUE(desktopEntry.open(QIODevice::ReadOnly));
    QStringList offered;
    for (const QString& line : QString::fromUtf8(desktopEntry.readAll()).split('\n'))
        if (line.startsWith("MimeType=")) offered = line.mid(9).split(';', Qt::SkipEmptyParts);
    for (const char* extension : {"avi", "mpg", "mpeg", "wmv", "wma", "asf", "mov", "qt"}) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(QString("x.") + extension, QMimeDatabase::MatchExtension);
        EXPECT_TRUE(offered.contains(type.name())) << extension << " " << type.name().toStdString();
    }
}

TEST_F(StartupTest, FirstStartShowsEveryDefaultThroughTheControls) {
    frmMain& w = Load();
    EXPECT_EQ(w.CurLang, "English");
    EXPECT_EQ(w.LstLang->currentText(), "English");
    EXPECT_EQ(w.cmbFramerateAVI->currentText(), "25.00");
    EXPECT_EQ(w.cmbAudioBitrateMPEG->currentText(), "128");
    EXPECT_EQ(w.cmbVideoBitrateMPEG->currentText(), "1150");
    EXPECT_EQ(w.cmbFramerateMPEG->currentText(), "29.97");
    EXPECT_EQ(w.cmbCnannelsAVI->currentText(), "Stereo");
    EXPECT_EQ(w.cmbCnannelsMPEG->currentText(), "Stereo");
    EXPECT_EQ(w.cmbVideoSize->currentIndex(), 0);
    EXPECT_TRUE(w.cmbVideoSize->currentText().startsWith("-1"));
    EXPECT_EQ(engine.view->sizeMode, -1);
    EXPECT_EQ(w.cmbPlaySld->currentText(), "1");
    EXPECT_TRUE(w.optPCM->isChecked());
    EXPECT_TRUE(w.rbMPEG1->isChecked());
    EXPECT_EQ(w.CurOutFormat, 0);
    EXPECT_TRUE(w.FrameOptVideoAvi->isVisibleTo(&w));
    EXPECT_FALSE(w.FrameOptVideoMpeg->isVisibleTo(&w));
    EXPECT_TRUE(w.cmdOptAVI->font().bold());
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer2->interval(), 25);
    EXPECT_EQ(w.OutExt, (std::array<QString, 4>{"avi", "mpeg", "wmv", "rm"}));
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StartupTest, EngineListsAreFilledFromTheHighestNumberDown) {
    frmMain& w = Load();
    EXPECT_EQ(Entries(w.cmbAVICodecs), (QStringList{"Codec 3", "Codec 2", "Codec 1"}));
    EXPECT_EQ(Entries(w.cmbWMVCodecs), (QStringList{"Profile 3", "Profile 2", "Profile 1"}));
    EXPECT_EQ(w.cmbAVICodecs->currentIndex(), 0);
    EXPECT_EQ(w.cmbWMVCodecs->currentIndex(), 0);
    // The fill ends on codec 1; selecting row 0 selects codec 3 again.
    EXPECT_EQ(engine.log.With("out.SelectAviCodec"),
              (std::vector<std::string>{"out.SelectAviCodec(3)", "out.SelectAviCodec(2)", "out.SelectAviCodec(1)",
                                        "out.SelectAviCodec(3)"}));
    EXPECT_EQ(writer().selectedCodec, 3);
}

TEST_F(StartupTest, StepsRunInOrderAndEachFailureIsSkippedSilently) {
    engine.failures["skin.LoadSkinFile"] = "no skin";
    engine.failures["out.AviCodecCount"] = "no codecs";
    frmMain& w = Load();
    const auto& calls = engine.log;
    const long reader = calls.IndexOf("engine.CreateMediaFile()");
    const long writer = calls.IndexOf("engine.CreateMediaFile()", reader + 1);
    const long images = calls.IndexOf("engine.CreateImageWriter()");
    const long player = calls.IndexOf("engine.CreateAudioPlayer()");
    const long skin = calls.IndexOf("skin.SkinWindow(frmMain)");
    ASSERT_GE(reader, 0);
    EXPECT_LT(reader, writer);
    EXPECT_LT(writer, images);
    EXPECT_LT(images, player);
    EXPECT_LT(player, skin);
    EXPECT_LT(calls.IndexOf("skin.SkinControl(sldBack,SLDBACK)"), calls.IndexOf("skin.SkinControl(sldThum,SLDTHUM)"));
    EXPECT_LT(calls.IndexOf("skin.SkinControl(lblCurSel,CurSel)"),
              calls.IndexOf("skin.SkinControl(cmbPlaySld,Button)"));
    EXPECT_LT(calls.IndexOf("out.WmvProfileCount()"), calls.IndexOf("player.NumberOfDevices()"));
    EXPECT_EQ(w.cmbAVICodecs->count(), 0);
    EXPECT_EQ(w.cmbAVICodecs->currentIndex(), -1);
    EXPECT_EQ(w.cmbWMVCodecs->count(), 3);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StartupTest, FrameRateRowIsStoredAtShutdownAndRestoredAtTheNextStart) {
    frmMain& w = Load();
    w.SelectRow(w.cmbFramerateAVI, 0);
    ASSERT_EQ(w.cmbFramerateAVI->currentText(), "10.00");
    w.close();
    EXPECT_EQ(UserSettings().value("Settings/VideoFrameRate").toString(), "0");
    window.reset();
    engine.files.clear();
    EXPECT_EQ(Load().cmbFramerateAVI->currentText(), "10.00");
}

TEST_F(StartupTest, StoredRowOutsideTheListLeavesNoSelectionAndIsKeptAsNone) {
    UserSettings().setValue("Settings/VideoFrameRate", "12");
    frmMain& w = Load();
    EXPECT_EQ(w.cmbFramerateAVI->currentIndex(), -1);
    w.close();
    EXPECT_EQ(UserSettings().value("Settings/VideoFrameRate").toString(), "-1");
    window.reset();
    engine.files.clear();
    EXPECT_EQ(Load().cmbFramerateAVI->currentIndex(), -1);
    UserSettings().setValue("Settings/VideoFrameRate", "abc");
    window.reset();
    engine.files.clear();
    EXPECT_EQ(Load().cmbFramerateAVI->currentIndex(), -1);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StartupTest, WithoutASoundDeviceNoDeviceIsSetUp) {
    engine.audioDevices = 0;
    frmMain& w = Load();
    EXPECT_TRUE(w.NoAudioOutput);
    EXPECT_EQ(engine.log.Count("player.SelectDevice"), 0);
    EXPECT_EQ(engine.log.Count("player.SetFirstSetupValue"), 0);
    EXPECT_EQ(engine.log.Count("player.SetSecondSetupValue"), 0);
}

TEST_F(StartupTest, WithASoundDeviceTheFirstIsSelectedAndSetUp) {
    frmMain& w = Load();
    EXPECT_FALSE(w.NoAudioOutput);
    EXPECT_EQ(engine.log.With("player.S"),
              (std::vector<std::string>{"player.SelectDevice(0)", "player.SetFirstSetupValue(65535)",
                                        "player.SetSecondSetupValue(50)"}));
}

TEST_F(StartupTest, ShutdownClosesAnOpenInputBeforeReleasingTheFourObjects) {
    Load();
    Open();
    engine.log.Clear();
    window->close();
    const auto& calls = engine.log;
    const long closeIn = calls.IndexOf("in.Close()");
    const long closeOut = calls.IndexOf("out.Close()");
    ASSERT_GE(closeIn, 0);
    EXPECT_LT(calls.IndexOf("view.Clear()"), calls.IndexOf("player.Stop()"));
    EXPECT_LT(calls.IndexOf("player.Stop()"), closeIn);
    EXPECT_LT(closeIn, closeOut);
    EXPECT_LT(closeOut, calls.IndexOf("in.Release()"));
    EXPECT_LT(calls.IndexOf("in.Release()"), calls.IndexOf("out.Release()"));
    EXPECT_LT(calls.IndexOf("out.Release()"), calls.IndexOf("images.Release()"));
    EXPECT_LT(calls.IndexOf("images.Release()"), calls.IndexOf("player.Release()"));
}

TEST_F(StartupTest, ShutdownWithoutAnInputReleasesWithoutClosing) {
    Load();
    engine.log.Clear();
    window->close();
    EXPECT_EQ(engine.log.Count("in.Close"), 0);
    EXPECT_EQ(engine.log.Count("out.Close"), 0);
    EXPECT_TRUE(engine.log.Has("player.Release()"));
}

TEST_F(StartupTest, ExitButtonClosesTheWindow) {
    frmMain& w = Load();
    QTest::mouseClick(w.cmdExit, Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(engine.log.Has("in.Release()"));
}

TEST_F(StartupTest, FixedListsHoldTheirEntriesInOrder) {
    frmMain& w = Load();
    EXPECT_EQ(Entries(w.cmbCnannelsAVI), (QStringList{"Mono", "Stereo"}));
    EXPECT_EQ(Entries(w.cmbCnannelsMPEG), (QStringList{"Mono", "Stereo"}));
    EXPECT_EQ(Entries(w.cmbFramerateMPEG), (QStringList{"23.97", "24.00", "25.00", "29.97", "30.00"}));
    EXPECT_EQ(Entries(w.cmbVideoBitrateMPEG), (QStringList{"750", "1150", "1500", "1950", "2376"}));
    EXPECT_EQ(Entries(w.cmbAudioBitrateMPEG), (QStringList{"32", "48", "56", "64", "80", "96", "112", "128", "160",
                                                           "192", "224", "256", "320", "384"}));
    EXPECT_EQ(Entries(w.cmbFramerateAVI),
              (QStringList{"10.00", "15.00", "20.00", "23.97", "24.00", "25.00", "29.97", "30.00"}));
    EXPECT_EQ(Entries(w.cmbVideoSize).mid(2), (QStringList{"1", "2", "3", "4", "5", "8"}));
    EXPECT_EQ(w.cmbVideoSize->count(), 8);
    EXPECT_EQ(Entries(w.cmbPlaySld), (QStringList{"1", "2"}));
}

TEST_F(StartupTest, ControlsThatNeedAnInputRefuseInputBeforeOne) {
    frmMain& w = Load();
    const std::vector<QWidget*> locked = {w.cmdCut,     w.cmdSplit,         w.cmdCancel,    w.cmdOutFile,
                                          w.cmdOutFile2, w.cmdPlayStop,     w.cmbPlaySld,   w.cmdSavePictureAs,
                                          w.cmbVideoSize, w.sldThum,        w.sldThum2};
    for (QWidget* control : locked) EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    engine.log.Clear();
    for (QWidget* control : locked) {
        QTest::mouseClick(control, Qt::LeftButton);
        QTest::mousePress(control, Qt::LeftButton);
        QTest::mouseMove(control, QPoint(5, 5));
        QTest::mouseRelease(control, Qt::LeftButton);
    }
    EXPECT_TRUE(engine.log.With("in.").empty());
    EXPECT_TRUE(engine.log.With("out.").empty());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(platform.dialogRequests.empty());
}

TEST_F(StartupTest, CaptionlessControlsHaveAccessibleNamesAndEveryControlTakesFocus) {
    frmMain& w = Load();
    for (QWidget* control : std::initializer_list<QWidget*>{w.cmdNextFrame, w.cmdPrevFrame, w.cmdNextFrame2,
                                                            w.cmdPrevFrame2, w.sldThum, w.sldThum2, w.VideoView1Widget})
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    for (QWidget* control : std::initializer_list<QWidget*>{w.cmdNextFrame, w.sldThum, w.cmdFile, w.cmbAVICodecs,
                                                            w.optGSM, w.rbMPEG2, w.LstLang, w.cmdExit})
        EXPECT_NE(control->focusPolicy() & Qt::TabFocus, 0) << control->objectName().toStdString();
}

TEST_F(StartupTest, PaintWithoutAnInputDrawsNothing) {
    frmMain& w = Load();
    w.FrameData_ = FakeFrame(5, 0);
    engine.log.Clear();
    w.repaint();
    EXPECT_EQ(engine.log.Count("view.ShowFrame"), 0);
}

}  // namespace
}  // namespace trimora::test
