// What keeps a job from spoiling its input or other files, and the window from staying locked:
// the controls locked while a job runs, closing the window during a job, a failing completion,
// output names that are refused or asked about before anything is written.
#include <QDir>
#include <QFile>
#include <filesystem>
#include <map>

#include "JobFixture.h"

namespace trimora::test {
namespace {

class JobSafetyTest : public JobFixture {
protected:
    std::vector<QWidget*> LockedDuringJobs() const {
        frmMain& w = *window;
        return {w.cmdPlayStop,   w.cmbPlaySld,      w.cmdPrevFrame,        w.cmdNextFrame,
                w.cmdPrevFrame2, w.cmdNextFrame2,   w.sldThum,             w.sldThum2,
                w.cmdFile,       w.cmdSavePictureAs, w.cmdOptAVI,          w.cmdOptMPEG,
                w.cmdOptWMV,     w.cmbAVICodecs,    w.btnConfigureVideoCodec, w.cmbFramerateAVI,
                w.optPCM,        w.optMP3,          w.optGSM,              w.optADPCM,
                w.optALAW,       w.optULAW,         w.cmbCnannelsAVI,      w.cmbFramerateMPEG,
                w.cmbVideoBitrateMPEG, w.cmbCnannelsMPEG, w.cmbAudioBitrateMPEG, w.rbMPEG1,
                w.rbMPEG2,       w.cmbWMVCodecs,    w.cmdOutFile,          w.cmdOutFile2};
    }
    std::map<QString, bool> EnabledStates() const {
        std::map<QString, bool> states;
        for (QWidget* control : LockedDuringJobs()) states[control->objectName()] = control->isEnabled();
        return states;
    }
    // A real file in the test's folder.
    QString Touch(const QString& name) {
        const QString path = temp.path() + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path;
    }
    bool NothingWritten() const { return engine.log.With("out.").empty(); }
    // A cut to `name` is refused at the start as writing over the input.
    void ExpectCutRefusedAsInput(const QString& name) {
        window->EdOutFile->setText(name);
        platform.messages.clear();
        engine.log.Clear();
        window->cmdCut->click();
        ASSERT_EQ(platform.messages.size(), 1u) << name.toStdString();
        EXPECT_TRUE(platform.messages[0].first.contains("is the input file")) << name.toStdString();
        EXPECT_TRUE(NothingWritten());
    }
};

TEST_F(JobSafetyTest, AJobLocksWhatWouldMoveTheReaderAndTheFormatAndRestoresIt) {
    for (bool split : {false, true}) {
        LoadAndOpen();
        SetMarks(10, 60);
        window->cmdSavePictureAs->setEnabled(false);  // already disabled: must stay so
        const auto before = EnabledStates();
        std::map<QString, bool> during;
        bool running = false, languageAllowed = false, cancelAllowed = false, jobButtons = true;
        During([&] { return reader().currentFrame >= 20; },
               [&] {
                   during = EnabledStates();
                   running = window->JobRunning;
                   languageAllowed = window->LstLang->isEnabled();
                   cancelAllowed = window->cmdCancel->isEnabled();
                   jobButtons = window->cmdCut->isEnabled() || window->cmdSplit->isEnabled();
               });
        (split ? window->cmdSplit : window->cmdCut)->click();

        ASSERT_FALSE(during.empty());
        for (const auto& [name, enabled] : during) EXPECT_FALSE(enabled) << name.toStdString() << " split " << split;
        EXPECT_TRUE(running);
        EXPECT_TRUE(languageAllowed);
        EXPECT_TRUE(cancelAllowed);
        EXPECT_FALSE(jobButtons);
        EXPECT_EQ(EnabledStates(), before);
        EXPECT_FALSE(window->cmdSavePictureAs->isEnabled());
        EXPECT_FALSE(window->JobRunning);
        window->close();
        window.reset();
        engine.files.clear();
    }
}

TEST_F(JobSafetyTest, BrowsingDuringAJobDoesNotEnableTheJobButtons) {
    LoadAndOpen();
    SetMarks(10, 60);
    bool cutEnabled = true, splitEnabled = true;
    During([&] { return reader().currentFrame >= 20; },
           [&] {
               platform.dialogAnswers.push_back(FileDialogAnswer{"/elsewhere/a.avi", 2});
               platform.dialogAnswers.push_back(FileDialogAnswer{"/elsewhere/b.avi", 2});
               window->cmdOutFile_Click();
               window->cmdOutFile2_Click();
               cutEnabled = window->cmdCut->isEnabled();
               splitEnabled = window->cmdSplit->isEnabled();
           });
    window->cmdCut->click();
    EXPECT_FALSE(cutEnabled);
    EXPECT_FALSE(splitEnabled);
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_EQ(engine.log.Count("out.CreateOutputFile(/videos/clip_1.avi"), 1);
}

TEST_F(JobSafetyTest, ClosingTheWindowDuringACutCancelsItAndClosesAfterTheMessage) {
    LoadAndOpen();
    SetMarks(10, 60);
    During([&] { return reader().currentFrame >= 20; }, [&] { window->close(); });
    bool visibleAtMessage = false;
    long logAtMessage = -1;
    platform.onMessage = [&](const QString&) {
        visibleAtMessage = window->isVisible();
        logAtMessage = static_cast<long>(engine.log.calls.size());
    };
    window->cmdCut->click();

    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    EXPECT_TRUE(visibleAtMessage);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->CloseAfterJob);
    const auto files = FramesPerFile();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LE(files[0].back(), 21);
    // The output was closed before the message; the window's own shutdown came after it.
    const long outputClosed = engine.log.IndexOf("out.Close()");
    EXPECT_GE(outputClosed, 0);
    EXPECT_LT(outputClosed, logAtMessage);
    EXPECT_GE(engine.log.IndexOf("in.Close()", logAtMessage), logAtMessage);
}

TEST_F(JobSafetyTest, ClosingTheWindowDuringASplitClosesAfterTheJob) {
    LoadAndOpen();
    SetMarks(50, 30);
    During([&] { return reader().currentFrame >= 70; }, [&] { window->close(); });
    window->cmdSplit->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(FramesPerFile().size(), 2u);
}

TEST_F(JobSafetyTest, AWriterWhoseCloseFailsStillLeavesTheWindowUsable) {
    LoadAndOpen();
    SetMarks(60, 10);
    engine.failures["out.Close"] = "Disk full";
    window->cmdCut->click();
    engine.failures.clear();

    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(1) + " Disk full"});
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_EQ(window->SliderTimePosition1->Value(), 60);
    EXPECT_EQ(window->SliderTimePosition2->Value(), 10);
    EXPECT_TRUE(window->cmdPlayStop->isEnabled());
    EXPECT_TRUE(window->sldThum->isEnabled());
    EXPECT_TRUE(window->cmdOptMPEG->isEnabled());
    EXPECT_TRUE(window->ProgressBar1->isHidden());
    EXPECT_FALSE(window->JobRunning);
    EXPECT_FALSE(window->UpdatingSliders);
}

TEST_F(JobSafetyTest, AnOutputThatCouldNotBeCreatedEndsWithMessage1NotSuccess) {
    LoadAndOpen();
    SetMarks(10, 60);
    engine.failures["out.CreateOutputFile"] = "Permission denied";
    engine.log.Clear();
    window->cmdCut->click();
    // The settings step reports the writer's description, then the job reports its failure.
    EXPECT_EQ(platform.MessageTexts(), (QStringList{"Permission denied", Message(1) + " Permission denied"}));
    EXPECT_EQ(engine.log.Count("in.ReadNextVideoFrame"), 0);
    EXPECT_EQ(engine.log.Count("out.Append"), 0);
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdPlayStop->isEnabled());
    EXPECT_FALSE(window->JobRunning);
}

TEST_F(JobSafetyTest, AnOutputNamingTheInputIsRefusedBeforeAnythingIsWritten) {
    LoadAndOpen();
    SetMarks(10, 60);
    for (const QString name : {"/videos/clip.avi", "/videos/./clip.avi", "/videos/sub/../clip.avi"}) {
        ExpectCutRefusedAsInput(name);
        EXPECT_TRUE(window->cmdCut->isEnabled());
        EXPECT_TRUE(window->cmdPlayStop->isEnabled());
    }
    // The second output of a split too.
    window->EdOutFile->setText("/videos/part1.avi");
    window->EdOutFile2->setText("/videos/clip.avi");
    SetMarks(50, 30);
    platform.messages.clear();
    engine.log.Clear();
    window->cmdSplit->click();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(platform.messages[0].first.contains("is the input file"));
    EXPECT_TRUE(NothingWritten());
}

TEST_F(JobSafetyTest, AnOutputLinkedToTheInputIsRefused) {
    const QString input = Touch("in/clip.avi");
    ASSERT_TRUE(QFile::link(input, temp.path() + "/link.avi"));
    std::filesystem::create_hard_link(input.toStdString(), (temp.path() + "/hard.avi").toStdString());
    LoadAndOpen();
    Open(input);
    SetMarks(10, 60);
    for (const QString name : {"link.avi", "hard.avi"}) ExpectCutRefusedAsInput(temp.path() + "/" + name);
}

// A failed job discards its output (so a file of that name stays as it was); a finished part
// and a cancelled job are closed and keep theirs.
TEST_F(JobSafetyTest, OnlyAFailedJobDiscardsItsOutput) {
    LoadAndOpen();
    SetMarks(50, 30);
    auto outputEnds = [&] {
        std::vector<std::string> ends;
        for (const std::string& call : engine.log.calls)
            if (call.starts_with("out.CreateOutputFile") || call == "out.Close()" || call == "out.DiscardOutputFile()")
                ends.push_back(call);
        return ends;
    };
    During([&] { return reader().currentFrame >= 60; }, [&] { engine.failures["out.AppendVideoFrame"] = "Disk full"; });
    engine.log.Clear();
    window->cmdSplit->click();
    engine.failures.clear();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(1) + " Disk full"});
    EXPECT_EQ(outputEnds(), (std::vector<std::string>{"out.CreateOutputFile(/videos/clip_1.avi,1)", "out.Close()",
                                                      "out.CreateOutputFile(/videos/clip_2.avi,1)",
                                                      "out.DiscardOutputFile()", "out.Close()"}));

    CancelAtFrame(60);
    engine.log.Clear();
    window->cmdSplit->click();
    EXPECT_EQ(outputEnds(), (std::vector<std::string>{"out.CreateOutputFile(/videos/clip_1.avi,1)", "out.Close()",
                                                      "out.CreateOutputFile(/videos/clip_2.avi,1)", "out.Close()"}));
}

TEST_F(JobSafetyTest, SplitOutputsNamingOneFileAreRefused) {
    QDir().mkpath(temp.path() + "/real");
    ASSERT_TRUE(QFile::link(temp.path() + "/real", temp.path() + "/linked"));
    const QString existing = Touch("real/existing.avi");
    ASSERT_TRUE(QFile::link(existing, temp.path() + "/existing-link.avi"));
    LoadAndOpen();
    SetMarks(50, 30);
    const std::pair<QString, QString> cases[] = {
        {temp.path() + "/real/a.avi", temp.path() + "/real/./a.avi"},
        {temp.path() + "/real/a.avi", temp.path() + "/linked/a.avi"},  // through a linked folder
        {existing, temp.path() + "/existing-link.avi"},                 // through a linked file
        {"a.avi", programFolder + "/a.avi"},                            // relative to the current folder
    };
    for (const auto& [first, second] : cases) {
        window->EdOutFile->setText(first);
        window->EdOutFile2->setText(second);
        platform.messages.clear();
        engine.log.Clear();
        window->cmdSplit->click();
        ASSERT_EQ(platform.messages.size(), 1u) << second.toStdString();
        EXPECT_TRUE(platform.messages[0].first.contains("same file")) << second.toStdString();
        EXPECT_TRUE(NothingWritten());
        EXPECT_TRUE(platform.overwriteQuestions.empty());
        EXPECT_FALSE(QFile::exists(temp.path() + "/real/a.avi"));
        EXPECT_TRUE(window->cmdSplit->isEnabled());
    }
}

TEST_F(JobSafetyTest, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
    const QString existing = Touch("out/existing.avi");
    LoadAndOpen();
    SetMarks(10, 30);
    window->EdOutFile->setText(existing);

    platform.overwriteAnswers = {false};
    engine.log.Clear();
    window->cmdCut->click();
    EXPECT_EQ(platform.overwriteQuestions, std::vector<QString>{existing});
    EXPECT_TRUE(NothingWritten());
    EXPECT_TRUE(platform.messages.empty());

    platform.overwriteAnswers = {true};
    window->cmdCut->click();
    EXPECT_EQ(platform.overwriteQuestions.size(), 2u);
    EXPECT_TRUE(engine.log.Has("out.CreateOutputFile(" + existing.toStdString() + ",1)"));
}

TEST_F(JobSafetyTest, AFileConfirmedInTheSaveAsDialogIsNotAskedAgain) {
    const QString existing = Touch("out/existing.avi");
    const QString other = Touch("out/other.avi");
    LoadAndOpen();
    SetMarks(10, 30);
    // Accepted in the dialog, which asked before returning it: no second question.
    platform.dialogAnswers.push_back(FileDialogAnswer{existing, 2});
    window->cmdOutFile->click();
    window->cmdCut->click();
    EXPECT_TRUE(platform.overwriteQuestions.empty());
    EXPECT_TRUE(engine.log.Has("out.CreateOutputFile(" + existing.toStdString() + ",1)"));

    // A cancelled dialog confirms nothing, even when it leaves an existing name in the box.
    window->EdOutFile->setText(other);
    platform.dialogAnswers.push_back(std::nullopt);
    window->cmdOutFile->click();
    platform.overwriteAnswers = {false};
    engine.log.Clear();
    window->cmdCut->click();
    EXPECT_EQ(platform.overwriteQuestions, std::vector<QString>{other});
    EXPECT_TRUE(NothingWritten());
}

}  // namespace
}  // namespace trimora::test
