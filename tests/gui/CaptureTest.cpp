// Saving the shown frame as a picture and stepping the marks one frame, on the scripted engine:
// which writer operation runs with which frame and name, what the shared dialog is given and
// keeps, and that cancelling, failing and having no input behave.
#include <array>
#include <string>
#include <vector>

#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

const QString kPictureFilter =
    "BMP Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|"
    "TIFF Files (*.tiff)|*.tif;*.tiff;*.cpt|PCX Files (*.pcx)|*.pcx|"
    "WMF Files (*.wmf)|*.wmf|EMF Files (*.emf)|*.emf|TGA Files (*.tga)|*.tga|"
    "PNG Files (*.png)|*.png|RAS Files (*.ras)|*.ras|JPEG2000 Files (*.j2k)|*.j2k|";

class CaptureTest : public WindowFixture {
protected:
    // Starts the window, opens `path` (an input of `frames` frames) and shows frame `frame`
    // through the first mark.
    void OpenAt(const QString& path, int frame, int frames = 200) {
        engine.setUpFile = [frames](FakeMediaFile& file) {
            file.numberOfFrames = frames;
            file.videoDuration = frames * 40;
            file.audioDuration = frames * 40;
        };
        Load();
        Open(path);
        ASSERT_TRUE(window->FileLoaded);
        window->SliderTimePosition1->SetValue(frame);
        ASSERT_EQ(reader().currentFrame, frame);
        ASSERT_EQ(FrameNumberOf(window->FrameData_), frame);
        platform.messages.clear();
        platform.dialogRequests.clear();
        engine.log.Clear();
    }

    void Answer(const QString& fileName, int row) { platform.dialogAnswers.push_back(FileDialogAnswer{fileName, row}); }
    void Cancel() { platform.dialogAnswers.push_back(std::nullopt); }

    std::vector<std::string> Saves() const { return engine.log.With("images."); }
};

TEST_F(CaptureTest, TheDialogProposesTheInputNameWithTheFrameOnScreen) {
    OpenAt("C:\\video\\clip.avi", 120);
    Cancel();
    window->cmdSavePictureAs->click();

    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    const FileDialogRequest& request = platform.dialogRequests[0];
    EXPECT_EQ(request.mode, FileDialogMode::Save);
    EXPECT_EQ(request.fileName, "C:\\video\\clip Frame120");
    EXPECT_EQ(request.title, "Save Picture To File");
    EXPECT_EQ(request.filter, kPictureFilter);
    // The dialog itself asks before an existing file is replaced.
    EXPECT_TRUE(request.flags & 2);
}

TEST_F(CaptureTest, OnlyFourCharactersAreRemovedFromTheInputName) {
    OpenAt("C:\\video\\clip.mpeg", 57);
    Cancel();
    window->cmdSavePictureAs->click();
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    EXPECT_EQ(platform.dialogRequests[0].fileName, "C:\\video\\clip. Frame57");
}

TEST_F(CaptureTest, TheChosenRowAloneChoosesTheFormat) {
    OpenAt("/videos/clip.avi", 33);
    Answer("/pictures/shot.bmp", 9);
    window->cmdSavePictureAs->click();

    EXPECT_EQ(Saves(), std::vector<std::string>{"images.SaveAsPng(33,/pictures/shot.bmp)"});
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CaptureTest, EachRowCallsItsOwnSaveOperation) {
    OpenAt("/videos/clip.avi", 7);
    const std::array<std::string, 11> operations = {"SaveAsBmp", "SaveAsJpeg", "SaveAsGif", "SaveAsTiff",
                                                    "SaveAsPcx", "SaveAsWmf",  "SaveAsEmf", "SaveAsTga",
                                                    "SaveAsPng", "SaveAsRas",  "SaveAsJpeg2000"};
    for (int row = 1; row <= 11; ++row) {
        SCOPED_TRACE(row);
        engine.log.Clear();
        // The same name every time: the name never picks the format.
        Answer("/pictures/frame", row);
        window->cmdSavePictureAs->click();
        EXPECT_EQ(Saves(), std::vector<std::string>{"images." + operations[row - 1] + "(7,/pictures/frame)"});
    }
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CaptureTest, TheDialogOpensOnTheRowOfItsPreviousUseAndKeepsCancelErrorOn) {
    OpenAt("/videos/clip.avi", 10);
    // The output-file dialog opens on the container's row; the user leaves it on another one.
    window->cmdOptMPEG->click();
    Answer("/out/part.mpeg", 4);
    window->cmdOutFile->click();
    ASSERT_EQ(window->EdOutFile->text(), "/out/part.mpeg");
    ASSERT_EQ(platform.dialogRequests.back().filterIndex, 3);

    Answer("/pictures/a", 3);
    window->cmdSavePictureAs->click();
    EXPECT_EQ(platform.dialogRequests.back().filterIndex, 4);
    EXPECT_EQ(Saves(), std::vector<std::string>{"images.SaveAsGif(10,/pictures/a)"});
    EXPECT_TRUE(window->commonDialog->CancelError);

    // A later output-file dialog that is cancelled ends its handler with nothing changed: the
    // job button the handler would enable stays as it was.
    window->cmdCut->setEnabled(false);
    Cancel();
    window->cmdOutFile->click();
    EXPECT_EQ(window->EdOutFile->text(), "/out/part.mpeg");
    EXPECT_FALSE(window->cmdCut->isEnabled());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CaptureTest, CancellingWritesNothingAndShowsNothing) {
    OpenAt("/videos/clip.avi", 12);
    Cancel();
    window->cmdSavePictureAs->click();
    EXPECT_EQ(platform.dialogRequests.size(), 1u);
    EXPECT_TRUE(Saves().empty());
    EXPECT_TRUE(platform.messages.empty());

    // An accepted dialog with no name writes nothing either.
    Answer("", 1);
    window->cmdSavePictureAs->click();
    EXPECT_TRUE(Saves().empty());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CaptureTest, AnInputNameTooShortToCutEndsSilently) {
    OpenAt("/videos/clip.avi", 12);
    window->txtFile->setText("a.b");
    Answer("/pictures/x.png", 9);
    window->cmdSavePictureAs->click();
    EXPECT_TRUE(platform.dialogRequests.empty());
    EXPECT_TRUE(Saves().empty());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.dialogAnswers.size(), 1u);
}

TEST_F(CaptureTest, AFailingSaveIsReportedOnceWithTheWritersDescription) {
    OpenAt("/videos/clip.avi", 15);
    engine.failures["images.SaveAsJpeg"] = "Cannot write /readonly/x.jpg: Permission denied";
    Answer("/readonly/x.jpg", 2);
    window->cmdSavePictureAs->click();

    EXPECT_EQ(Saves(), std::vector<std::string>{"images.SaveAsJpeg(15,/readonly/x.jpg)"});
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, "Cannot write /readonly/x.jpg: Permission denied");

    // The window stays usable: the next save goes through without a message.
    engine.failures.clear();
    Answer("/pictures/x.jpg", 2);
    window->cmdSavePictureAs->click();
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(Saves().back(), "images.SaveAsJpeg(15,/pictures/x.jpg)");
}

TEST_F(CaptureTest, SavesTheFrameShownWhenThePictureButtonWasPressed) {
    OpenAt("/videos/clip.avi", 40);
    // While the dialog is open the shown frame moves on (as playback or a running job would).
    platform.onFileDialog = [this](const FileDialogRequest&) { window->SliderTimePosition1->SetValue(90); };
    Answer("/pictures/moving.bmp", 1);
    window->cmdSavePictureAs->click();

    ASSERT_EQ(FrameNumberOf(window->FrameData_), 90);
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    EXPECT_EQ(platform.dialogRequests[0].fileName, "/videos/clip Frame40");
    EXPECT_EQ(Saves(), std::vector<std::string>{"images.SaveAsBmp(40,/pictures/moving.bmp)"});
}

TEST_F(CaptureTest, WithoutAnInputNoneOfTheFiveButtonsChangesAnything) {
    Load();
    const int value1 = window->SliderTimePosition1->Value();
    const int value2 = window->SliderTimePosition2->Value();
    engine.log.Clear();
    Answer("/pictures/none.png", 9);

    // Called directly: the buttons are not all disabled, and the handlers must hold on their own.
    window->cmdNextFrame_Click();
    window->cmdNextFrame2_Click();
    window->cmdPrevFrame_Click();
    window->cmdPrevFrame2_Click();
    window->cmdSavePictureAs_Click();

    EXPECT_EQ(window->SliderTimePosition1->Value(), value1);
    EXPECT_EQ(window->SliderTimePosition2->Value(), value2);
    EXPECT_TRUE(engine.log.calls.empty()) << engine.log.calls.front();
    EXPECT_TRUE(platform.dialogRequests.empty());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(window->FrameData_.empty());
}

TEST_F(CaptureTest, StepButtonsMoveTheirOwnMarkByOneFrameAndWrapAtTheEnds) {
    OpenAt("/videos/clip.avi", 1, 50);
    window->SliderTimePosition2->SetValue(50);
    engine.log.Clear();

    window->cmdNextFrame->click();
    EXPECT_EQ(window->SliderTimePosition1->Value(), 2);
    EXPECT_EQ(FrameNumberOf(window->FrameData_), 2);
    window->cmdPrevFrame->click();
    window->cmdPrevFrame->click();
    EXPECT_EQ(window->SliderTimePosition1->Value(), 50);  // from 1 back to the last frame
    EXPECT_EQ(engine.view->shown.back(), 50);

    window->cmdNextFrame2->click();
    EXPECT_EQ(window->SliderTimePosition2->Value(), 1);  // from the last frame on to the first
    EXPECT_EQ(engine.view->shown.back(), 1);
    window->cmdPrevFrame2->click();
    EXPECT_EQ(window->SliderTimePosition2->Value(), 50);
    EXPECT_EQ(window->SliderTimePosition1->Value(), 50);

    // Every step sought the reader to the new mark and showed it.
    EXPECT_EQ(engine.log.With("in.SeekToFrame("),
              (std::vector<std::string>{"in.SeekToFrame(2)", "in.SeekToFrame(1)", "in.SeekToFrame(50)",
                                        "in.SeekToFrame(1)", "in.SeekToFrame(50)"}));
}

}  // namespace
}  // namespace trimora::test
