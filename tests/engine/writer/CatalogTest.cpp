// The codec catalog, the Windows Media profiles and the conversions decided before encoding.
#include <gtest/gtest.h>

#include <set>

#include "engine/EngineError.h"
#include "engine/ffmpeg/writer/CodecCatalog.h"
#include "engine/ffmpeg/writer/FfmpegWriter.h"
#include "engine/ffmpeg/writer/FrameRates.h"
#include "engine/ffmpeg/writer/OutputPlan.h"
#include "engine/ffmpeg/writer/WindowsMediaProfiles.h"

namespace trimora {
namespace {

TEST(AviCodecCatalog, ListsWorkingSoftwareEncodersWithMpeg4Last) {
    FfmpegWriter writer;
    const int count = writer.AviCodecCount();
    ASSERT_GE(count, 4);
    std::set<std::string> names;
    for (int16_t n = 1; n <= count; ++n) {
        writer.SelectAviCodec(n);
        const std::string name = writer.SelectedAviCodecName();
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(names.insert(name).second) << "listed twice: " << name;
    }
    // The window shows number N first and selects it: the general default.
    writer.SelectAviCodec(static_cast<int16_t>(count));
    EXPECT_EQ(writer.SelectedAviCodecName(), "MPEG-4 Part 2 (DivX/Xvid compatible)");
    for (const AviCodecEntry& entry : AviCodecs()) {
        EXPECT_NE(entry.encoderName, "libx265") << "H.265 in AVI does not play";
        const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName.c_str());
        ASSERT_NE(codec, nullptr);
        EXPECT_FALSE(codec->capabilities & AV_CODEC_CAP_HARDWARE) << entry.encoderName;
    }
    EXPECT_TRUE(names.count("H.264 (x264)"));
    EXPECT_TRUE(names.count("Motion JPEG"));
    EXPECT_TRUE(names.count("HuffYUV (lossless)"));
}

TEST(AviCodecCatalog, StartsWithTheDefaultSelectedAndRefusesNumbersOutsideTheList) {
    FfmpegWriter writer;
    EXPECT_EQ(writer.SelectedAviCodecName(), "MPEG-4 Part 2 (DivX/Xvid compatible)");
    EXPECT_THROW(writer.SelectAviCodec(0), EngineError);
    EXPECT_THROW(writer.SelectAviCodec(static_cast<int16_t>(writer.AviCodecCount() + 1)), EngineError);
    EXPECT_EQ(writer.SelectedAviCodecName(), "MPEG-4 Part 2 (DivX/Xvid compatible)");
}

TEST(AviCodecCatalog, X264IsFedPlanarYuv420) {
    for (const AviCodecEntry& entry : AviCodecs()) {
        if (entry.encoderName != "libx264") continue;
        EXPECT_EQ(EncoderPixelFormat(avcodec_find_encoder_by_name("libx264"), entry), AV_PIX_FMT_YUV420P);
        return;
    }
    GTEST_SKIP() << "x264 is not available";
}

TEST(WindowsMediaProfiles, RunFromLowBandwidthToHighQualityAndNameWhatTheyGive) {
    FfmpegWriter writer;
    const int count = writer.WmvProfileCount();
    ASSERT_GE(count, 3);
    int lastVideo = 0;
    for (int16_t n = 1; n <= count; ++n) {
        writer.SelectWmvProfile(n);
        const WindowsMediaProfile& profile = WindowsMediaProfiles()[n - 1];
        EXPECT_EQ(writer.SelectedProfileName(), profile.name);
        EXPECT_NE(profile.name.find(std::to_string(profile.videoKbps) + " kbit/s video"), std::string::npos);
        EXPECT_NE(profile.name.find(std::to_string(profile.audioKbps) + " kbit/s"), std::string::npos);
        EXPECT_GE(profile.audioKbps, 24);
        EXPECT_GE(profile.videoKbps, lastVideo);
        lastVideo = profile.videoKbps;
    }
    EXPECT_THROW(writer.SelectWmvProfile(0), EngineError);
    EXPECT_THROW(writer.SelectWmvProfile(static_cast<int16_t>(count + 1)), EngineError);
}

TEST(WindowsMediaProfiles, FitThePictureWithoutEnlargingOrDistortingIt) {
    const WindowsMediaProfile box{"", 320, 240, 300, 32, 22050, 2};
    int w = 0, h = 0;
    ProfilePictureSize(box, 1280, 720, w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 180);
    ProfilePictureSize(box, 176, 144, w, h);  // smaller than the box: kept
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);
    ProfilePictureSize(box, 720, 576, w, h);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(w % 2, 0);
    EXPECT_LE(w, 320);
    const WindowsMediaProfile original{"", 0, 0, 2000, 128, 0, 0};
    ProfilePictureSize(original, 175, 143, w, h);  // odd sizes become even for 4:2:0
    EXPECT_EQ(w % 2, 0);
    EXPECT_EQ(h % 2, 0);
    EXPECT_NEAR(w, 175, 1);
    EXPECT_NEAR(h, 143, 1);
}

TEST(FrameRates, ListedRatesBecomeTheExactStandardOnes) {
    EXPECT_EQ(av_cmp_q(StandardFrameRate(23.97), AVRational{24000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(StandardFrameRate(29.97), AVRational{30000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(StandardFrameRate(24.0), AVRational{24, 1}), 0);
    EXPECT_EQ(av_cmp_q(StandardFrameRate(25.0), AVRational{25, 1}), 0);
    EXPECT_EQ(av_cmp_q(StandardFrameRate(10.0), AVRational{10, 1}), 0);
    EXPECT_EQ(av_cmp_q(StandardFrameRate(0.0), AVRational{25, 1}), 0);
    EXPECT_NEAR(av_q2d(StandardFrameRate(12.5)), 12.5, 1e-9);
    // The MPEG encoders take only their fixed list.
    const AVCodec* mpeg1 = avcodec_find_encoder_by_name("mpeg1video");
    ASSERT_NE(mpeg1, nullptr);
    EXPECT_EQ(av_cmp_q(EncoderFrameRate(mpeg1, 23.97), AVRational{24000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(EncoderFrameRate(mpeg1, 29.97), AVRational{30000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(EncoderFrameRate(mpeg1, 25.0), AVRational{25, 1}), 0);
}

TEST(OutputPlan, SizesAreMadeAcceptableToBlockCodecs) {
    WriterSettings settings;
    settings.hasVideo = true;
    settings.inputWidth = 175;
    settings.inputHeight = 143;
    settings.inputFrameRate = 25;
    for (size_t i = 0; i < AviCodecs().size(); ++i) {
        settings.aviCodecNumber = static_cast<int>(i) + 1;
        const OutputPlan plan = BuildOutputPlan(settings, kContainerAvi);
        ASSERT_TRUE(plan.video);
        EXPECT_EQ(plan.video->width % AviCodecs()[i].sizeMultiple, 0) << AviCodecs()[i].encoderName;
        EXPECT_EQ(plan.video->height % AviCodecs()[i].sizeMultiple, 0) << AviCodecs()[i].encoderName;
        EXPECT_GE(plan.video->width, 175);
        EXPECT_LE(plan.video->width, 178);
    }
}

TEST(OutputPlan, SoundIsConvertedToWhatEachEncoderTakes) {
    // GSM in AVI: 8000 Hz mono only.
    AudioPlan gsm = PlanAudio("libgsm_ms", 48000, 2, 13000);
    EXPECT_EQ(gsm.sampleRate, 8000);
    EXPECT_EQ(gsm.channels, 1);
    // MPEG audio layer II: 16000, 22050, 24000, 32000, 44100, 48000 Hz; at most two channels.
    EXPECT_EQ(PlanAudio("mp2", 11025, 1, 64000).sampleRate, 16000);
    EXPECT_EQ(PlanAudio("mp2", 44100, 2, 128000).sampleRate, 44100);
    EXPECT_EQ(PlanAudio("mp2", 96000, 6, 128000).sampleRate, 48000);
    EXPECT_EQ(PlanAudio("mp2", 96000, 6, 128000).channels, 2);
    EXPECT_EQ(PlanAudio("libmp3lame", 48000, 6, 128000).channels, 2);
    EXPECT_EQ(PlanAudio("pcm_s16le", 44100, 6, 0).channels, 6);
    EXPECT_THROW(PlanAudio("pcm_s16le", 0, 2, 0), EngineError);
    // Layer II bit rates depend on the rate's family.
    EXPECT_EQ(NearestLayer2BitRate(128, 48000), 128);
    EXPECT_EQ(NearestLayer2BitRate(384, 22050), 160);
    EXPECT_EQ(NearestLayer2BitRate(100, 44100), 96);
}

TEST(OutputPlan, RefusesSettingsThatCannotMakeAFile) {
    WriterSettings settings;
    EXPECT_THROW(BuildOutputPlan(settings, kContainerAvi), EngineError);  // neither stream
    settings.hasVideo = true;
    EXPECT_THROW(BuildOutputPlan(settings, kContainerAvi), EngineError);  // no picture size
    settings.inputWidth = 176;
    settings.inputHeight = 144;
    EXPECT_THROW(BuildOutputPlan(settings, 4), EngineError);
    settings.hasAudio = true;  // sound without a format
    EXPECT_THROW(BuildOutputPlan(settings, kContainerAvi), EngineError);
    settings.hasAudio = false;
    EXPECT_NO_THROW(BuildOutputPlan(settings, kContainerAvi));
    try {
        BuildOutputPlan(settings, 4);
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("4"), std::string::npos);
    }
}

}  // namespace
}  // namespace trimora
