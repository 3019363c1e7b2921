// Opening real files through the window on the real engine: the preview shows the stamped frame
// each mark names, and bad inputs are refused with a clear message while the window stays usable.
#include <sys/inotify.h>
#include <unistd.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/Desktop.h"
#include "support/RealWindowFixture.h"

namespace trimora::test {
namespace {

class RealOpenInputTest : public RealWindowFixture {
protected:
    std::string StampedClip(const std::string& format = "avi", int frames = 30) {
        ClipSpec spec;
        spec.format = format;
        spec.frames = frames;
        spec.gop = 12;
        return MakeClip(spec);
    }
};

TEST_F(RealOpenInputTest, MarksShowTheStampedFramesTheyName) {
    frmMain& w = Load();
    w.OpenInputFile(QString::fromStdString(StampedClip("mpeg2", 40)));
    ASSERT_TRUE(w.FileLoaded) << platform.MessageTexts().join("; ").toStdString();
    EXPECT_EQ(w.SliderTimePosition1->Max(), 40);
    EXPECT_EQ(ShownStamp(), 1);
    for (int mark : {17, 40, 3, 39}) {
        w.SliderTimePosition2->SetValue(mark);
        EXPECT_EQ(ShownStamp(), mark);
    }
    QTest::mouseClick(w.cmdNextFrame2, Qt::LeftButton);
    EXPECT_EQ(ShownStamp(), 40);
    QTest::mouseClick(w.cmdNextFrame2, Qt::LeftButton);
    EXPECT_EQ(ShownStamp(), 1);
    QTest::mouseClick(w.cmdPrevFrame, Qt::LeftButton);
    EXPECT_EQ(ShownStamp(), 40);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(RealOpenInputTest, InformationShowsWhatTheReaderReports) {
    frmMain& w = Load();
    w.OpenInputFile(QString::fromStdString(StampedClip("avi", 25)));
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_TRUE(w.EdInfoVideo->Text().contains("\t25\r\n")) << w.EdInfoVideo->Text().toStdString();
    EXPECT_TRUE(w.EdInfoVideo->Text().endsWith("\t176*144"));
    EXPECT_TRUE(w.EdInfoAudio->Text().contains("\t48000\r\n"));
    EXPECT_TRUE(w.EdInfoAudio->Text().endsWith("\t2"));
}

TEST_F(RealOpenInputTest, PathsWithSpacesDotsAndLettersBeyondAsciiOpen) {
    frmMain& w = Load();
    const QString folder = Folder("my.videos/Vidéos d'été");
    const QString path = folder + "/clip ünïcode.v1.avi";
    ASSERT_TRUE(QFile::copy(QString::fromStdString(StampedClip()), path));
    w.OpenInputFile(path);
    ASSERT_TRUE(w.FileLoaded) << platform.MessageTexts().join("; ").toStdString();
    EXPECT_EQ(w.EdOutFile->text(), folder + "/clip ünïcode.v1_1.avi");
    EXPECT_EQ(ShownStamp(), 1);
}

TEST_F(RealOpenInputTest, BadInputsAreRefusedWithAMessageAndTheWindowStaysUsable) {
    frmMain& w = Load();
    const QString folder = Folder("bad");
    const QString zero = folder + "/empty.avi";
    QFile(zero).open(QIODevice::WriteOnly);
    const QString noise = folder + "/noise.avi";
    {
        std::ofstream out(noise.toStdString(), std::ios::binary);
        for (int i = 0; i < 200000; ++i) out.put(static_cast<char>((i * 7919) % 251));
    }
    const QString half = folder + "/half.avi";
    {
        const std::string clip = StampedClip("avi", 50);
        const auto size = std::filesystem::file_size(clip);
        QFile::copy(QString::fromStdString(clip), half);
        std::filesystem::resize_file(half.toStdString(), size / 2);
    }
    ClipSpec soundOnly;
    soundOnly.format = "mpeg1";
    const QString audioOnly = folder + "/song.mpg";
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=d=1 -c:a mp2 " + ShellQuote(audioOnly.toStdString()));

    for (const QString& path : {folder + "/missing.avi", zero, noise, audioOnly}) {
        platform.messages.clear();
        w.OpenInputFile(path);
        ASSERT_EQ(platform.messages.size(), 1u) << path.toStdString();
        EXPECT_FALSE(platform.messages[0].first.trimmed().isEmpty());
        EXPECT_EQ(platform.messages[0].second, MessageIcon::Critical);
        EXPECT_FALSE(w.FileLoaded) << path.toStdString();
        EXPECT_EQ(w.txtFile->text(), w.GetFromINI("frmMain", "6"));
    }
    EXPECT_EQ(platform.messages[0].first, w.Messages[25]);  // the sound-only file

    // A file cut in half opens with what it holds: its last frame is the last picture a straight
    // decode shows (pictures that needed the lost part are not among them).
    platform.messages.clear();
    w.OpenInputFile(half);
    ASSERT_TRUE(w.FileLoaded);
    const std::vector<int> shown = DecodeStamps(half.toStdString());
    const int frames = w.SliderTimePosition1->Max();
    ASSERT_EQ(frames, static_cast<int>(shown.size()));
    w.SliderTimePosition1->SetValue(frames);
    EXPECT_EQ(ShownStamp(), shown.back());

    // The window still opens a good file afterwards.
    w.OpenInputFile(QString::fromStdString(StampedClip()));
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(ShownStamp(), 1);
}

// What the window shows after an open.
struct OpenOutcome {
    bool loaded = false;
    QString input, output;
    QStringList messages;
    int stamp = -1;
    bool operator==(const OpenOutcome&) const = default;
};

// A file named on the command line or dropped on the window opens as the Open dialog's choice
// does: a good file, a file that is no video and a missing file alike.
TEST_F(RealOpenInputTest, TheCommandLineAndADropOpenAsTheOpenDialogsChoice) {
    const QString folder = Folder("handed over");
    const QString good = folder + "/clip.avi";
    ASSERT_TRUE(QFile::copy(QString::fromStdString(StampedClip()), good));
    const QString noise = folder + "/noise.avi";
    {
        std::ofstream out(noise.toStdString(), std::ios::binary);
        for (int i = 0; i < 100000; ++i) out.put(static_cast<char>((i * 7919) % 251));
    }
    const QString missing = folder + "/missing.avi";

    const auto Reload = [this] {
        if (window) window->close();
        Load();
    };
    const auto outcome = [this] {
        OpenOutcome o{window->FileLoaded, window->txtFile->text(), window->EdOutFile->text(), platform.MessageTexts()};
        if (o.loaded) o.stamp = ShownStamp();
        return o;
    };
    for (const QString& path : {good, noise, missing}) {
        SCOPED_TRACE(path.toStdString());
        Reload();
        platform.messages.clear();
        platform.dialogAnswers.push_back(FileDialogAnswer{path, 1});
        window->cmdFile->click();
        const OpenOutcome chosen = outcome();
        EXPECT_EQ(chosen.loaded, path == good);

        // trimora FILE, named relative to the folder it was started in.
        Reload();
        platform.messages.clear();
        const QStringList files =
            FilesFromArguments({"trimora", "--check", QFileInfo(path).fileName()}, folder);
        ASSERT_EQ(files, QStringList{path});
        window->OpenFromDesktop(files.first());
        EXPECT_EQ(outcome(), chosen);

        // Dropped on the window.
        Reload();
        platform.messages.clear();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPoint centre = window->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        EXPECT_EQ(outcome(), chosen);
    }
}

TEST_F(RealOpenInputTest, FailedOpenReturnsToThePreviousInput) {
    frmMain& w = Load();
    const QString good = QString::fromStdString(StampedClip());
    w.OpenInputFile(good);
    w.SliderTimePosition1->SetValue(12);
    w.OpenInputFile(Folder("x") + "/missing.avi");
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), good);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(ShownStamp(), 1);
}

// A program stream long enough that indexing it takes a while (a short clip copied over and over,
// so that it is made in a moment): its open shows the share read and stops at Cancel, the first
// input opened again without a message; left alone, the same file opens with every frame.
TEST_F(RealOpenInputTest, ALongOpenShowsItsProgressAndCancelReturnsToThePreviousInput) {
    frmMain& w = Load();
    const QString good = QString::fromStdString(StampedClip());
    const std::string folder = Folder("long").toStdString();
    const std::string piece = folder + "/piece.mpg", whole = folder + "/long.mpg";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=32x32:rate=25 -t 20 -c:v mpeg1video -g 25 "
                         "-b:v 64k " + ShellQuote(piece)), 0);
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -stream_loop 999 -i " + ShellQuote(piece) + " -c copy -f mpeg " +
                         ShellQuote(whole)), 0);
    w.OpenInputFile(good);
    ASSERT_TRUE(w.FileLoaded);
    w.SliderTimePosition1->SetValue(12);

    std::vector<int> seen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (w.ProgressBar1->isHidden() || seen.size() >= 3) return;  // what follows Cancel is the way back
        if (seen.empty() || seen.back() != w.ProgressBar1->value()) seen.push_back(w.ProgressBar1->value());
        if (seen.size() == 3) QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
    });
    watcher.start(2);
    w.OpenInputFile(QString::fromStdString(whole));
    watcher.stop();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.back(), 100);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), good);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(ShownStamp(), 1);
    EXPECT_TRUE(w.ProgressBar1->isHidden());

    w.OpenInputFile(QString::fromStdString(whole));
    ASSERT_TRUE(w.FileLoaded) << platform.MessageTexts().join("; ").toStdString();
    EXPECT_EQ(w.SliderTimePosition1->Max(), 1000 * 500);
    EXPECT_TRUE(platform.messages.empty());
}

// Only media containers open: an HLS playlist or a concat script, whatever its name, is refused
// before it reads the files it names (the existing one is watched for any opening).
TEST_F(RealOpenInputTest, PlaylistsAndConcatScriptsAreRefusedWithoutReadingWhatTheyName) {
    frmMain& w = Load();
    const QString folder = Folder("lists");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(StampedClip()), folder + "/named.avi"));
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, (folder + "/named.avi").toUtf8().constData(), IN_OPEN | IN_ACCESS), 0);
    for (const QString target : {"named.avi", "missing.avi"}) {
        const std::pair<QString, QString> files[] = {
            {"playlist.avi", "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.2,\n" + target +
                                 "\n#EXT-X-ENDLIST\n"},
            {"concat.avi", "ffconcat version 1.0\nfile '" + target + "'\n"},
        };
        for (const auto& [name, text] : files) {
            SCOPED_TRACE((name + " naming " + target).toStdString());
            QFile file(folder + "/" + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text.toUtf8());
            file.close();
            platform.messages.clear();
            w.OpenInputFile(folder + "/" + name);
            ASSERT_EQ(platform.messages.size(), 1u);
            EXPECT_EQ(platform.messages[0].second, MessageIcon::Critical);
            EXPECT_TRUE(platform.messages[0].first.contains(folder + "/" + name)) << platform.messages[0].first.toStdString();
            EXPECT_FALSE(w.FileLoaded);
        }
    }
    char events[4096];
    EXPECT_LT(read(watcher, events, sizeof events), 0) << "the named file was opened";
    close(watcher);
}

}  // namespace
}  // namespace trimora::test
