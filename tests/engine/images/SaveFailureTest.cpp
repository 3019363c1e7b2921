// Saving is all or nothing: a save that fails throws a described EngineError, leaves no partial
// or temporary file behind, and never damages a file that was already there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ImageTestUtil.h"
#include "engine/EngineError.h"
#include "engine/ffmpeg/images/FfmpegImageWriter.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

namespace fs = std::filesystem;

struct Operation {
    const char* name;
    void (ImageWriter::*save)(const FrameData&, const std::string&);
};
void PrintTo(const Operation& operation, std::ostream* out) { *out << operation.name; }

const Operation kOperations[] = {
    {"Bmp", &ImageWriter::SaveAsBmp},   {"Gif", &ImageWriter::SaveAsGif},
    {"Jpeg", &ImageWriter::SaveAsJpeg}, {"Png", &ImageWriter::SaveAsPng},
    {"Tiff", &ImageWriter::SaveAsTiff}, {"Wmf", &ImageWriter::SaveAsWmf},
    {"Emf", &ImageWriter::SaveAsEmf},   {"Pcx", &ImageWriter::SaveAsPcx},
    {"Tga", &ImageWriter::SaveAsTga},   {"Ras", &ImageWriter::SaveAsRas},
    {"Jpeg2000", &ImageWriter::SaveAsJpeg2000},
};

const std::vector<uint8_t> kOldContent = {'o', 'l', 'd', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};

// Runs the save and returns the description it failed with; fails the test if it succeeded.
std::string SaveFailure(const Operation& operation, const FrameData& frame, const std::string& path) {
    FfmpegImageWriter writer;
    try {
        (writer.*operation.save)(frame, path);
    } catch (const EngineError& error) {
        return error.what();
    }
    ADD_FAILURE() << operation.name << " into " << path << " did not fail";
    return {};
}

class SaveFailureTest : public testing::TestWithParam<Operation> {
protected:
    void SetUp() override { frame_ = MakeStampedFrame(176, 144, 42, 1680); }
    FrameData frame_;
};

TEST_P(SaveFailureTest, FolderThatCannotHoldTheFileThrowsAndWritesNothing) {
    const std::string folder = MakeScratchFolder();
    WriteBytes(folder + "/plain file", kOldContent);

    const std::string missing = SaveFailure(GetParam(), frame_, folder + "/no such folder/frame");
    EXPECT_NE(missing.find("no such folder/frame"), std::string::npos) << missing;
    EXPECT_FALSE(SaveFailure(GetParam(), frame_, folder + "/plain file/frame").empty());
    // A name longer than the system allows for one entry.
    EXPECT_FALSE(SaveFailure(GetParam(), frame_, folder + "/" + std::string(300, 'n')).empty());

    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"plain file"});
    EXPECT_EQ(ReadBytes(folder + "/plain file"), kOldContent);
}

TEST_P(SaveFailureTest, InvalidFrameLeavesExistingFileIntact) {
    const std::string folder = MakeScratchFolder();
    const std::string path = folder + "/frame";
    WriteBytes(path, kOldContent);

    for (const FrameData& bad : {FrameData{}, UnreadableFrame()})
        EXPECT_FALSE(SaveFailure(GetParam(), bad, path).empty());

    EXPECT_EQ(ReadBytes(path), kOldContent);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"frame"});
}

// A disk that fills up while the picture is written, made by a file size limit: the write
// fails part way, and the old file must survive it.
TEST_P(SaveFailureTest, WriteThatRunsOutOfSpaceLeavesExistingFileIntact) {
    const std::string folder = MakeScratchFolder();
    const std::string path = folder + "/frame";
    WriteBytes(path, kOldContent);
    const FrameData large = MakeStampedFrame(640, 360, 42, 0);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string description = SaveFailure(GetParam(), large, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_NE(description.find(path), std::string::npos) << description;
    EXPECT_EQ(ReadBytes(path), kOldContent);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"frame"});
}

TEST_P(SaveFailureTest, SuccessfulSaveReplacesWholeFileAndKeepsItsPermissions) {
    const std::string folder = MakeScratchFolder();
    const std::string path = folder + "/frame";
    WriteBytes(path, std::vector<uint8_t>(2'000'000, 'x'));  // longer than any picture here
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    FfmpegImageWriter writer;
    (writer.*GetParam().save)(frame_, path);

    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_LT(bytes.size(), 2'000'000u);
    EXPECT_EQ(std::count(bytes.end() - 16, bytes.end(), 'x'), 0) << "old content left at the end";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"frame"});
}

INSTANTIATE_TEST_SUITE_P(AllFormats, SaveFailureTest, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<Operation>& info) { return info.param.name; });

TEST(SaveTarget, NewFileGetsTheUsualPermissions) {
    const std::string path = MakeScratchFolder() + "/new.png";
    const mode_t mask = umask(022);
    FfmpegImageWriter writer;
    writer.SaveAsPng(MakeStampedFrame(64, 48, 1, 0), path);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SaveTarget, LinkIsFollowedAndKept) {
    const std::string folder = MakeScratchFolder();
    fs::create_directory(folder + "/pictures");
    WriteBytes(folder + "/pictures/real.png", kOldContent);
    fs::create_symlink("pictures/real.png", folder + "/link.png");

    FfmpegImageWriter writer;
    writer.SaveAsPng(MakeStampedFrame(176, 144, 99, 0), folder + "/link.png");

    EXPECT_TRUE(fs::is_symlink(folder + "/link.png"));
    EXPECT_EQ(ProbeImage(folder + "/pictures/real.png").codecName, "png");
    EXPECT_EQ(ReadStampFromGray(DecodeImage(folder + "/pictures/real.png", "gray")), 99);
    EXPECT_EQ(FolderEntries(folder + "/pictures"), std::vector<std::string>{"real.png"});
}

TEST(SaveTarget, FolderOfThatNameIsNotReplaced) {
    const std::string folder = MakeScratchFolder();
    fs::create_directory(folder + "/shot.bmp");
    WriteBytes(folder + "/shot.bmp/inside", kOldContent);
    EXPECT_THROW(FfmpegImageWriter().SaveAsBmp(MakeStampedFrame(64, 48, 1, 0), folder + "/shot.bmp"), EngineError);
    EXPECT_EQ(ReadBytes(folder + "/shot.bmp/inside"), kOldContent);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"shot.bmp"});
}

TEST(SaveTarget, EmptyNameIsRefused) {
    EXPECT_THROW(FfmpegImageWriter().SaveAsJpeg(MakeStampedFrame(64, 48, 1, 0), ""), EngineError);
}

TEST(SaveTarget, ReadOnlyFolderIsRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
    const std::string folder = MakeScratchFolder();
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    EXPECT_THROW(FfmpegImageWriter().SaveAsTiff(MakeStampedFrame(64, 48, 1, 0), folder + "/frame.tif"), EngineError);
    chmod(folder.c_str(), 0755);
    EXPECT_TRUE(FolderEntries(folder).empty());
}

}  // namespace
}  // namespace trimora::test
