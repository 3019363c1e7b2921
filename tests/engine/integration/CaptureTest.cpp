// Saving the shown frame through a real main window on the real engine: a stamped clip is
// opened, a mark is stepped to a frame, and the picture written is read back with ffmpeg; the
// stamp in it must be the frame on screen. Failed saves are reported once and harm nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/frmMain.h"
#include "support/RealWindowFixture.h"

namespace trimora::test {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class RealCaptureTest : public RealWindowFixture {
protected:
    QString pictures;
    std::string clip;

    void SetUp() override {
        RealWindowFixture::SetUp();
        pictures = Folder("pictures");
        ClipSpec spec;
        spec.format = "avi";
        spec.frames = 40;
        spec.gop = 10;
        clip = MakeClip(spec);

        Load();
        window->OpenInputFile(QString::fromStdString(clip));
        ASSERT_TRUE(window->FileLoaded);
        ASSERT_EQ(window->SliderTimePosition1->Max(), 40);
        platform.messages.clear();
    }

    // Puts the first mark on `frame` by stepping to it from the frame before.
    void ShowFrame(int frame) {
        window->SliderTimePosition1->SetValue(frame - 1);
        window->cmdNextFrame->click();
        ASSERT_EQ(window->SliderTimePosition1->Value(), frame);
        ASSERT_EQ(window->VideoFileIn1->CurrentFrameNumber(), frame);
        ASSERT_EQ(ReadStamp(window->FrameData_), frame);
    }

    void Save(const QString& path, int row) {
        platform.dialogAnswers.push_back(FileDialogAnswer{path, row});
        window->cmdSavePictureAs->click();
    }
};

TEST_F(RealCaptureTest, SavesTheFrameOnScreenInTheChosenFormat) {
    ShowFrame(17);
    const QString png = pictures + "/still.png";
    Save(png, 9);
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    const QString input = QString::fromStdString(clip);
    EXPECT_EQ(platform.dialogRequests[0].fileName, input.left(input.size() - 4) + " Frame17");
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(ReadAll(png).startsWith("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(Probe(png.toStdString()).videoCodec, "png");
    EXPECT_EQ(DecodeStamps(png.toStdString()), std::vector<int>{17});

    // The last frame, stepped to from the first, as a BMP.
    window->SliderTimePosition1->SetValue(1);
    window->cmdPrevFrame->click();
    ASSERT_EQ(ReadStamp(window->FrameData_), 40);
    const QString bmp = pictures + "/still.bmp";
    Save(bmp, 1);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(ReadAll(bmp).startsWith("BM"));
    EXPECT_EQ(Probe(bmp.toStdString()).videoCodec, "bmp");
    EXPECT_EQ(DecodeStamps(bmp.toStdString()), std::vector<int>{40});
}

TEST_F(RealCaptureTest, TheRowChoosesTheFormatWhateverTheNameSays) {
    ShowFrame(5);
    const QString named = pictures + "/shot.bmp";
    Save(named, 9);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(ReadAll(named).startsWith("\x89PNG\r\n\x1a\n"));
    // No extension is added to a name without one.
    const QString bare = pictures + "/shot";
    Save(bare, 1);
    EXPECT_TRUE(ReadAll(bare).startsWith("BM"));
    EXPECT_EQ(QDir(pictures).entryList(QDir::Files), (QStringList{"shot", "shot.bmp"}));
}

TEST_F(RealCaptureTest, AFolderThatCannotTakeThePictureGivesOneMessageAndNoFile) {
    ShowFrame(9);
    QFile plain(pictures + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("not a folder");
    plain.close();

    std::vector<QString> targets = {pictures + "/missing folder/frame.png", pictures + "/plain/frame.png",
                                    pictures + "/" + QString(300, 'n') + ".png"};
    if (geteuid() != 0) {
        // A folder the user may not write into (the superuser may write anywhere).
        QDir().mkpath(pictures + "/locked");
        QFile::setPermissions(pictures + "/locked", QFile::ReadOwner | QFile::ExeOwner);
        targets.push_back(pictures + "/locked/frame.png");
    }
    for (const QString& target : targets) {
        SCOPED_TRACE(target.toStdString());
        platform.messages.clear();
        Save(target, 9);
        ASSERT_EQ(platform.messages.size(), 1u);
        EXPECT_FALSE(platform.messages[0].first.isEmpty());
        EXPECT_FALSE(QFile::exists(target));
    }
    QFile::setPermissions(pictures + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadAll(pictures + "/plain"), "not a folder");
}

// A disk that fills up while the picture is written, made with a file size limit.
TEST_F(RealCaptureTest, AnExistingFileSurvivesASaveThatFailsPartWay) {
    ShowFrame(21);
    const QString target = pictures + "/kept.png";
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the picture saved before");
    old.close();

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Save(target, 1);  // a BMP of the whole frame is far beyond the limit
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(platform.messages[0].first.contains(target)) << platform.messages[0].first.toStdString();
    EXPECT_EQ(ReadAll(target), "the picture saved before");
    EXPECT_EQ(QDir(pictures).entryList(QDir::Files), QStringList{"kept.png"});
}

}  // namespace
}  // namespace trimora::test
