// Choosing the output names with the Save As dialog.
#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

const char* const kFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, "
    "*.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time Files (*.mov, "
    "*.qt)|*.mov; *.qt|";

class OutputFilesTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Load();
        Open("/videos/clip.avi");
    }
    void Answer(const QString& name) { platform.dialogAnswers.push_back(FileDialogAnswer{name, 2}); }
    void Cancel() { platform.dialogAnswers.push_back(std::nullopt); }
};

TEST_F(OutputFilesTest, TheDialogOpensOnTheBoxsNameAndTheContainersRow) {
    window->cmdOptMPEG->click();
    Cancel();
    window->cmdOutFile->click();
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    const FileDialogRequest& request = platform.dialogRequests[0];
    EXPECT_EQ(request.mode, FileDialogMode::Save);
    EXPECT_EQ(request.title, "Select Output Video File");
    EXPECT_EQ(request.fileName, "/videos/clip_1.mpeg");
    EXPECT_EQ(request.flags, 2);
    EXPECT_EQ(request.filter, kFilter);
    EXPECT_EQ(request.filterIndex, 3);  // "Mpeg files"
}

TEST_F(OutputFilesTest, AnAcceptedNameGoesIntoTheBoxAsTypedAndEnablesTheJob) {
    window->cmdCut->setEnabled(false);
    window->cmdSplit->setEnabled(false);
    Answer("/elsewhere/first");
    window->cmdOutFile->click();
    EXPECT_EQ(window->EdOutFile->text(), "/elsewhere/first");  // no extension is added
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_FALSE(window->cmdSplit->isEnabled());

    Answer("/elsewhere/second.avi");
    window->cmdOutFile2->click();
    EXPECT_EQ(window->EdOutFile2->text(), "/elsewhere/second.avi");
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_EQ(platform.dialogRequests[1].fileName, "/videos/clip_2.avi");
}

TEST_F(OutputFilesTest, CancelKeepsTheNameAndOnlyAfterACaptureEndsSilently) {
    window->cmdCut->setEnabled(false);
    Cancel();
    window->cmdOutFile->click();
    EXPECT_EQ(window->EdOutFile->text(), "/videos/clip_1.avi");
    EXPECT_TRUE(window->cmdCut->isEnabled());  // the name is written back

    window->cmdCut->setEnabled(false);
    window->commonDialog->CancelError = true;  // as a frame capture leaves it
    Cancel();
    window->cmdOutFile->click();
    EXPECT_EQ(window->EdOutFile->text(), "/videos/clip_1.avi");
    EXPECT_FALSE(window->cmdCut->isEnabled());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(OutputFilesTest, AnEmptyNameAndACancelChangeNothing) {
    window->EdOutFile->setText("");
    window->cmdCut->setEnabled(false);
    Cancel();
    window->cmdOutFile->click();
    EXPECT_EQ(window->EdOutFile->text(), "");
    EXPECT_FALSE(window->cmdCut->isEnabled());
}

TEST_F(OutputFilesTest, BrowsingDuringPlaybackLeavesTheJobButtonsLocked) {
    window->cmdPlayStop->click();
    ASSERT_TRUE(window->Playing);
    ASSERT_FALSE(window->cmdCut->isEnabled());
    Answer("/elsewhere/first.avi");
    window->cmdOutFile_Click();
    EXPECT_EQ(window->EdOutFile->text(), "/elsewhere/first.avi");
    EXPECT_FALSE(window->cmdCut->isEnabled());
    window->cmdPlayStop->click();
    EXPECT_TRUE(window->cmdCut->isEnabled());
}

}  // namespace
}  // namespace trimora::test
