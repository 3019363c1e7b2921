// The codec settings dialog, built and filled without being shown, and its values reaching
// the encoder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/ffmpeg/writer/CodecSettingsDialog.h"
#include "WriterTestSupport.h"

namespace trimora::test {
namespace {

const AviCodecEntry* Entry(const std::string& encoder) {
    for (const AviCodecEntry& entry : AviCodecs())
        if (entry.encoderName == encoder) return &entry;
    return nullptr;
}

void ChooseRateControl(CodecSettingsDialog& dialog, CodecSettings::RateControl mode) {
    auto* combo = dialog.findChild<QComboBox*>("rateControl");
    ASSERT_NE(combo, nullptr);
    const int index = combo->findData(static_cast<int>(mode));
    ASSERT_GE(index, 0);
    combo->setCurrentIndex(index);
}

std::string WriteWithSettings(FfmpegWriter& writer, int frames = 25) {
    Feed feed;
    feed.frames = frames;
    feed.audio = false;
    DescribeInput(writer, feed);
    writer.SetAviVideoParameters(feed.width, feed.height, 25);
    const std::string path = TempPath(".avi");
    WriteFeed(writer, feed, path, kContainerAvi);
    return path;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CodecSettingsDialog, ListsTheEncodersOwnOptionsWithEditorsOfTheirType) {
    const AviCodecEntry* mpeg4 = Entry("mpeg4");
    ASSERT_NE(mpeg4, nullptr);
    CodecSettingsDialog dialog(*mpeg4, CodecSettings{});
    const std::vector<std::string> names = dialog.OptionNames();
    ASSERT_FALSE(names.empty());
    // A boolean, an option with named values and a flag set, as FFmpeg describes them.
    EXPECT_NE(dynamic_cast<QComboBox*>(dialog.OptionEditor("data_partitioning")), nullptr);
    EXPECT_NE(dynamic_cast<QSpinBox*>(dialog.OptionEditor("mpeg_quant")), nullptr);
    ASSERT_NE(dialog.OptionEditor("mpv_flags"), nullptr);
    EXPECT_NE(dialog.OptionEditor("mpv_flags")->findChild<QCheckBox*>("qp_rd"), nullptr);
    EXPECT_FALSE(dialog.OptionEditor("mpv_flags")->toolTip().isEmpty());
    // Untouched, nothing differs from the encoder's defaults.
    for (const auto& [name, value] : dialog.Settings().privateOptions) ADD_FAILURE() << name << " = " << value;
    EXPECT_EQ(dialog.Settings(), CodecSettings{});

    dynamic_cast<QComboBox*>(dialog.OptionEditor("data_partitioning"))->setCurrentIndex(
        dynamic_cast<QComboBox*>(dialog.OptionEditor("data_partitioning"))->findData("true"));
    dialog.OptionEditor("mpv_flags")->findChild<QCheckBox*>("qp_rd")->setChecked(true);
    const CodecSettings changed = dialog.Settings();
    EXPECT_EQ(changed.privateOptions.size(), 2u);
    EXPECT_EQ(changed.privateOptions.at("data_partitioning"), "true");
    EXPECT_EQ(changed.privateOptions.at("mpv_flags"), "qp_rd");

    // Opened again with those settings, the dialog shows them.
    CodecSettingsDialog again(*mpeg4, changed);
    EXPECT_EQ(again.Settings(), changed);
}

TEST(CodecSettingsDialog, LosslessCodecsOfferNoBitRate) {
    const AviCodecEntry* huffyuv = Entry("huffyuv");
    ASSERT_NE(huffyuv, nullptr);
    CodecSettingsDialog dialog(*huffyuv, CodecSettings{});
    auto* combo = dialog.findChild<QComboBox*>("rateControl");
    ASSERT_NE(combo, nullptr);
    EXPECT_LT(combo->findData(static_cast<int>(CodecSettings::RateControl::BitRate)), 0);
}

TEST(CodecSettingsDialog, ItsBitRateReachesTheEncoderAndStaysUntilAnotherCodecIsChosen) {
    FfmpegWriter writer;
    const int16_t mpeg4 = static_cast<int16_t>(writer.AviCodecCount());
    writer.SelectAviCodec(mpeg4);
    const auto defaultSize = std::filesystem::file_size(WriteWithSettings(writer));
    // Every frame a keyframe, so that the bit rate and not the picture decides the size.
    auto setBitRate = [](int kbps) {
        return [kbps](CodecSettingsDialog& dialog) {
            ChooseRateControl(dialog, CodecSettings::RateControl::BitRate);
            dialog.findChild<QSpinBox*>("bitRate")->setValue(kbps);
            dialog.findChild<QSpinBox*>("keyframeInterval")->setValue(1);
            return true;
        };
    };
    writer.SetDialogRunner(setBitRate(3000));
    writer.ConfigureSelectedAviCodec();
    const auto large = std::filesystem::file_size(WriteWithSettings(writer));
    writer.SetDialogRunner(setBitRate(40));
    writer.ConfigureSelectedAviCodec();
    const std::string smallPath = WriteWithSettings(writer);
    const auto small = std::filesystem::file_size(smallPath);
    EXPECT_LT(small * 3, large * 2) << "40 kbit/s gave " << small << " bytes, 3000 kbit/s " << large;
    EXPECT_EQ(DecodeStamps(smallPath), Range(1, 25));

    // A cancelled dialog changes nothing; the settings survive selecting the same codec again.
    writer.SetDialogRunner([](CodecSettingsDialog& dialog) {
        dialog.findChild<QSpinBox*>("bitRate")->setValue(5000);
        return false;
    });
    writer.ConfigureSelectedAviCodec();
    writer.SelectAviCodec(mpeg4);
    EXPECT_EQ(writer.SelectedCodecSettings().bitRateKbps, 40);
    EXPECT_EQ(writer.SelectedCodecSettings().keyframeInterval, 1);
    EXPECT_EQ(std::filesystem::file_size(WriteWithSettings(writer)), small);
    // The dialog opens on the settings kept.
    writer.SetDialogRunner([](CodecSettingsDialog& dialog) {
        EXPECT_EQ(dialog.findChild<QSpinBox*>("bitRate")->value(), 40);
        EXPECT_EQ(dialog.findChild<QSpinBox*>("keyframeInterval")->value(), 1);
        return false;
    });
    writer.ConfigureSelectedAviCodec();

    // Another codec starts from its own defaults, and so does coming back.
    writer.SelectAviCodec(static_cast<int16_t>(mpeg4 - 1));
    EXPECT_EQ(writer.SelectedCodecSettings(), CodecSettings{});
    writer.SelectAviCodec(mpeg4);
    EXPECT_EQ(writer.SelectedCodecSettings(), CodecSettings{});
    EXPECT_EQ(std::filesystem::file_size(WriteWithSettings(writer)), defaultSize);
}

TEST(CodecSettingsDialog, ConstantQualityReachesTheEncoder) {
    for (const char* codec : {"MPEG-4 Part 2", "Xvid", "Motion JPEG", "H.264"}) {
        SCOPED_TRACE(codec);
        FfmpegWriter writer;
        const int16_t number = CodecNumber(writer, codec);
        if (number == 0) continue;
        writer.SelectAviCodec(number);
        auto sizeAt = [&writer](int quality) {
            writer.SetDialogRunner([quality](CodecSettingsDialog& dialog) {
                ChooseRateControl(dialog, CodecSettings::RateControl::Quality);
                auto* spin = dialog.findChild<QSpinBox*>("quality");
                spin->setValue(quality == 0 ? spin->minimum() : spin->maximum());
                dialog.findChild<QSpinBox*>("keyframeInterval")->setValue(1);
                return true;
            });
            writer.ConfigureSelectedAviCodec();
            return std::filesystem::file_size(WriteWithSettings(writer, 10));
        };
        const auto best = sizeAt(0);
        const auto worst = sizeAt(1);
        EXPECT_LT(worst * 3, best * 2) << "best quality " << best << " bytes, worst " << worst;
    }
}

TEST(CodecSettingsDialog, TheEncodersOwnOptionsReachTheEncoder) {
    // x264 writes its settings into the stream, so the file tells which preset it ran with.
    FfmpegWriter writer;
    const int16_t x264 = CodecNumber(writer, "H.264");
    if (x264 == 0) GTEST_SKIP() << "x264 is not available";
    writer.SelectAviCodec(x264);
    writer.SetDialogRunner([](CodecSettingsDialog& dialog) {
        auto* preset = dynamic_cast<QLineEdit*>(dialog.OptionEditor("preset"));
        EXPECT_NE(preset, nullptr);
        if (preset) preset->setText("ultrafast");
        ChooseRateControl(dialog, CodecSettings::RateControl::Quality);
        dialog.findChild<QSpinBox*>("quality")->setValue(30);
        return true;
    });
    writer.ConfigureSelectedAviCodec();
    const std::string path = WriteWithSettings(writer, 8);
    const std::string text = FileText(path);
    EXPECT_NE(text.find("subme=0"), std::string::npos) << "the ultrafast preset did not reach x264";
    EXPECT_NE(text.find("crf=30.0"), std::string::npos) << "the quality did not reach x264";
    EXPECT_EQ(DecodeStamps(path), Range(1, 8));
}

}  // namespace
}  // namespace trimora::test
