// The preview drawn for real: frames go in as the reader delivers them, the widget is grabbed,
// and its pixels say where the picture landed, what it shows and in which colours.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixfmt.h>
}

#include "engine/EngineError.h"
#include "engine/FrameBuffer.h"
#include "engine/view/PreviewWidget.h"
#include "engine/view/QtVideoView.h"
#include "support/TestClips.h"

namespace trimora {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

struct FrameOptions {
    int colorSpace = AVCOL_SPC_UNSPECIFIED;
    int colorRange = AVCOL_RANGE_UNSPECIFIED;
    int sarNum = 0;
    int sarDen = 1;
};

FrameData UniformFrame(int width, int height, Yuv colour, FrameOptions options = {}) {
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    std::vector<uint8_t> y(static_cast<size_t>(width) * height, colour.y);
    std::vector<uint8_t> u(static_cast<size_t>(chromaWidth) * chromaHeight, colour.u);
    std::vector<uint8_t> v(u.size(), colour.v);
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.pixelFormat = AV_PIX_FMT_YUV420P;
    header.colorSpace = options.colorSpace;
    header.colorRange = options.colorRange;
    header.sampleAspectNum = options.sarNum;
    header.sampleAspectDen = options.sarDen;
    const uint8_t* planes[4] = {y.data(), u.data(), v.data(), nullptr};
    const int lines[4] = {width, chromaWidth, chromaWidth, 0};
    return FrameFromPlanes(header, planes, lines);
}

// An RGB frame whose pixel (x, y) is given by `paint`; handy for checking geometry exactly.
FrameData RgbFrame(int width, int height, const std::function<QRgb(int, int)>& paint) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb c = paint(x, y);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(qRed(c));
            p[1] = static_cast<uint8_t>(qGreen(c));
            p[2] = static_cast<uint8_t>(qBlue(c));
        }
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.pixelFormat = AV_PIX_FMT_RGB24;
    const uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int lines[4] = {width * 3, 0, 0, 0};
    return FrameFromPlanes(header, planes, lines);
}

void SetColourRange(FrameData* frame, int range) {
    *frame = test::WithHeader(*frame, [&](FrameHeader& header) { header.colorRange = range; });
}

QImage Grab(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The rectangle of pixels that differ from the (black) background.
QRect PictureBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) + qGreen(c) + qBlue(c) > 24) bounds |= QRect(x, y, 1, 1);
        }
    return bounds;
}

void ExpectRectNear(const QRect& actual, const QRect& expected, int tolerance = 1) {
    EXPECT_NEAR(actual.left(), expected.left(), tolerance) << "left";
    EXPECT_NEAR(actual.top(), expected.top(), tolerance) << "top";
    EXPECT_NEAR(actual.width(), expected.width(), tolerance) << "width";
    EXPECT_NEAR(actual.height(), expected.height(), tolerance) << "height";
}

// Reads the frame-number stamp from the part of a grab where the picture is.
int StampIn(const QImage& image, const QRect& picture) {
    const QImage part = image.copy(picture);
    std::vector<uint8_t> luma(static_cast<size_t>(part.width()) * part.height());
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x) {
            const QRgb c = part.pixel(x, y);
            luma[static_cast<size_t>(y) * part.width() + x] =
                static_cast<uint8_t>(std::lround(0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c)));
        }
    return test::ReadStamp(luma.data(), part.width(), part.width(), part.height());
}

// Luma with the BT.601 weights the test pictures are made with.
double Luma(QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); }

bool AllPixelsAre(const QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != (colour & 0xffffff)) return false;
    return true;
}

// RGB of a YUV colour, worked out from the matrix's luma weights.
QRgb ExpectedRgb(Yuv c, double kr, double kb, bool fullRange) {
    const double y = fullRange ? c.y / 255.0 : (c.y - 16) / 219.0;
    const double pb = (c.u - 128) / (fullRange ? 255.0 : 224.0);
    const double pr = (c.v - 128) / (fullRange ? 255.0 : 224.0);
    const double r = y + 2 * (1 - kr) * pr;
    const double b = y + 2 * (1 - kb) * pb;
    const double g = (y - kr * r - kb * b) / (1 - kr - kb);
    auto to8 = [](double v) { return static_cast<int>(std::clamp(std::lround(v * 255), 0L, 255L)); };
    return qRgb(to8(r), to8(g), to8(b));
}

void ExpectColourNear(QRgb actual, QRgb expected, int tolerance = 4) {
    EXPECT_NEAR(qRed(actual), qRed(expected), tolerance) << "red";
    EXPECT_NEAR(qGreen(actual), qGreen(expected), tolerance) << "green";
    EXPECT_NEAR(qBlue(actual), qBlue(expected), tolerance) << "blue";
}

constexpr Yuv kLightGrey{200, 128, 128};

TEST(PreviewWidget, SizeModesPlaceThePictureKeepingItsAspectCentred) {
    PreviewWidget widget;
    widget.resize(400, 200);
    const FrameData frame = UniformFrame(160, 120, kLightGrey);

    widget.SetSizeMode(-1);
    widget.ShowFrame(frame);
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(66, 0, 267, 200));

    widget.SetSizeMode(0);
    widget.ShowFrame(frame);
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(120, 40, 160, 120));

    // Scale 2 is taller than the widget: centred, cut at top and bottom.
    widget.SetSizeMode(2);
    widget.ShowFrame(frame);
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(40, 0, 320, 200));

    // Shrink to fit on a picture larger than the widget fits it.
    widget.SetSizeMode(0);
    widget.ShowFrame(UniformFrame(800, 300, kLightGrey));
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(0, 25, 400, 150));
}

TEST(PreviewWidget, ShowsTheFramesOwnPixelsAtEverySize) {
    PreviewWidget widget;
    widget.resize(640, 360);
    const int first = 0x5a3c;
    const int second = 0x00ff;

    widget.SetSizeMode(-1);
    widget.ShowFrame(test::MakeStampedFrame(320, 240, first, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(80, 0, 480, 360)), first);
    // The next frame replaces it.
    widget.ShowFrame(test::MakeStampedFrame(320, 240, second, 40));
    EXPECT_EQ(StampIn(Grab(widget), QRect(80, 0, 480, 360)), second);

    widget.SetSizeMode(0);
    widget.ShowFrame(test::MakeStampedFrame(176, 144, first, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(232, 108, 176, 144)), first);

    widget.SetSizeMode(3);
    widget.ShowFrame(test::MakeStampedFrame(128, 96, second, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(128, 36, 384, 288)), second);
}

TEST(PreviewWidget, ScaledUpPicturesShowTheirMiddle) {
    // Red counts columns and green rows, so each grabbed pixel names its source pixel.
    const FrameData ramp = RgbFrame(176, 144, [](int x, int y) { return qRgb(x, y, 90); });
    PreviewWidget widget;
    widget.resize(200, 150);
    widget.SetSizeMode(2);  // 352x288 centred at (-76, -69)
    widget.ShowFrame(ramp);
    const QImage image = Grab(widget);
    const struct {
        int x, y;
    } probes[] = {{100, 75}, {10, 10}, {190, 140}, {0, 149}};
    for (const auto& probe : probes) {
        const QRgb c = image.pixel(probe.x, probe.y);
        EXPECT_NEAR(qRed(c), (probe.x + 76) / 2.0, 2.0) << probe.x << "," << probe.y;
        EXPECT_NEAR(qGreen(c), (probe.y + 69) / 2.0, 2.0) << probe.x << "," << probe.y;
    }

    // At scale 8 the widget shows a few dozen source pixels around the centre.
    widget.SetSizeMode(8);
    const QRgb centre = Grab(widget).pixel(100, 75);
    EXPECT_NEAR(qRed(centre), 88, 1.5);
    EXPECT_NEAR(qGreen(centre), 72, 1.5);
}

TEST(PreviewWidget, CroppingLandsOnTheSamePictureForEveryPlaneLayout) {
    // A crop points each plane at the crop's corner; a wrong offset in any plane shifts or
    // discolours the picture against the plain 4:2:0 one.
    PreviewWidget widget;
    widget.resize(300, 200);
    widget.SetSizeMode(2);
    const int number = 0x2d71;
    widget.ShowFrame(test::MakeStampedFrame(256, 192, number, 0));
    const QImage reference = Grab(widget);

    const AVPixelFormat formats[] = {AV_PIX_FMT_NV12,    AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUV444P,
                                     AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUYV422,
                                     AV_PIX_FMT_UYVY422, AV_PIX_FMT_RGB24,       AV_PIX_FMT_BGRA,
                                     AV_PIX_FMT_GRAY8};
    for (AVPixelFormat format : formats) {
        SCOPED_TRACE(format);
        FrameData frame = test::MakeStampedFrame(256, 192, number, 0, format);
        ASSERT_FALSE(frame.empty());
        const bool grey = format == AV_PIX_FMT_GRAY8;
        // swscale stretches limited luma to full range when it makes grey pictures.
        if (grey) SetColourRange(&frame, AVCOL_RANGE_JPEG);
        widget.ShowFrame(frame);
        const QImage image = Grab(widget);
        double difference = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb a = image.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                difference += grey ? std::abs(Luma(a) - Luma(b))
                                   : (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                                      std::abs(qBlue(a) - qBlue(b))) / 3.0;
            }
        EXPECT_LT(difference / (image.width() * image.height()), 6.0);
    }
}

TEST(PreviewWidget, ConvertsColoursWithTheMatrixAndRangeTheFrameCarries) {
    // A green that comes out clearly different under BT.601 and BT.709.
    const Yuv colour{128, 64, 64};
    const QRgb bt601 = ExpectedRgb(colour, 0.299, 0.114, false);
    const QRgb bt709 = ExpectedRgb(colour, 0.2126, 0.0722, false);
    ASSERT_GT(std::abs(qGreen(bt601) - qGreen(bt709)), 20);

    const struct {
        const char* what;
        int width, height;
        FrameOptions options;
        QRgb expected;
    } cases[] = {
        {"standard definition, unspecified", 640, 480, {}, bt601},
        {"high definition, unspecified", 1280, 720, {}, bt709},
        {"standard definition tagged BT.709", 640, 480, {AVCOL_SPC_BT709, AVCOL_RANGE_MPEG}, bt709},
        {"high definition tagged BT.601", 1280, 720, {AVCOL_SPC_SMPTE170M}, bt601},
        {"high definition tagged BT.470BG", 1280, 720, {AVCOL_SPC_BT470BG}, bt601},
        {"full range", 640, 480, {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_JPEG},
         ExpectedRgb(colour, 0.299, 0.114, true)},
    };
    PreviewWidget widget;
    widget.resize(64, 48);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        widget.ShowFrame(UniformFrame(c.width, c.height, colour, c.options));
        ExpectColourNear(Grab(widget).pixel(32, 30), c.expected);
    }
}

TEST(PreviewWidget, ClearShowsOnlyTheBackground) {
    PreviewWidget widget;
    widget.resize(120, 90);
    const QRgb background = widget.palette().color(QPalette::Window).rgb();
    EXPECT_TRUE(AllPixelsAre(Grab(widget), background));

    widget.ShowFrame(UniformFrame(160, 120, kLightGrey));
    EXPECT_FALSE(AllPixelsAre(Grab(widget), background));
    widget.Clear();
    EXPECT_FALSE(widget.HasFrame());
    EXPECT_TRUE(AllPixelsAre(Grab(widget), background));
    // Clearing keeps nothing that a resize could bring back.
    widget.resize(200, 150);
    EXPECT_TRUE(AllPixelsAre(Grab(widget), background));

    // An empty frame (none delivered) shows nothing either.
    widget.ShowFrame(UniformFrame(160, 120, kLightGrey));
    widget.ShowFrame(FrameData{});
    EXPECT_TRUE(AllPixelsAre(Grab(widget), background));
}

TEST(PreviewWidget, RepaintsItsLastFrameUntilTheNextOne) {
    PreviewWidget widget;
    widget.resize(320, 240);
    const int number = 0x1234;
    widget.ShowFrame(test::MakeStampedFrame(160, 120, number, 0));
    const QImage first = Grab(widget);
    EXPECT_EQ(StampIn(first, QRect(0, 0, 320, 240)), number);
    // Every paint draws the same frame again.
    EXPECT_EQ(Grab(widget), first);

    // A new size re-fits the frame it holds.
    widget.resize(160, 240);
    QImage resized = Grab(widget);
    ExpectRectNear(PictureBounds(resized), QRect(0, 60, 160, 120));
    EXPECT_EQ(StampIn(resized, QRect(0, 60, 160, 120)), number);

    // So does a new size mode.
    widget.SetSizeMode(0);
    widget.resize(400, 300);
    resized = Grab(widget);
    EXPECT_EQ(StampIn(resized, QRect(120, 90, 160, 120)), number);

    // The window's paint handler hands the same frame back after a resize: it must fit the new size.
    const FrameData again = test::MakeStampedFrame(160, 120, number, 0);
    widget.SetSizeMode(-1);
    widget.resize(640, 480);
    widget.ShowFrame(again);
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(0, 0, 640, 480));
}

// Shrinking goes through a scaled copy in the frame's own format, then the colours: every size
// must come out whole to its last column and row with the picture's own values, including
// widths that are no multiple of the converter's groups of pixels and odd heights (whose last
// row the converter takes from a repeated one).
TEST(PreviewWidget, ShrunkPicturesAreWholeAtEverySize) {
    // Luma rises from left to right in one picture and from top to bottom in the other; the
    // chroma is neutral, so grey levels name source columns or rows.
    const int width = 320, height = 240;
    auto ramp = [&](bool across) {
        std::vector<uint8_t> y(static_cast<size_t>(width) * height);
        std::vector<uint8_t> u(static_cast<size_t>(width / 2) * (height / 2), 128);
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                y[static_cast<size_t>(row) * width + x] =
                    static_cast<uint8_t>(across ? 60 + x * 150 / width : 60 + row * 150 / height);
        FrameHeader header;
        header.width = width;
        header.height = height;
        header.pixelFormat = AV_PIX_FMT_YUV420P;
        const uint8_t* planes[4] = {y.data(), u.data(), u.data(), nullptr};
        const int lines[4] = {width, width / 2, width / 2, 0};
        return FrameFromPlanes(header, planes, lines);
    };
    // The grey a position of the shown picture (0 to `shown` pixels) has when the luma rises
    // along it over `size` source pixels.
    auto expected = [](int position, int shown, int size) {
        const double source = (position + 0.5) * size / shown - 0.5;
        const double luma = 60 + std::clamp(source, 0.0, size - 1.0) * 150 / size;
        return (luma - 16) * 255 / 219;
    };

    for (const bool across : {true, false}) {
        const FrameData picture = ramp(across);
        for (const int shown : {300, 241, 203, 160, 117, 57}) {
            SCOPED_TRACE(std::string(across ? "across, " : "downwards, ") + "shown " + std::to_string(shown) +
                         " pixels wide");
            PreviewWidget widget;
            widget.resize(shown, shown * 3 / 4);
            widget.ShowFrame(picture);
            const QImage image = Grab(widget);
            const QRect bounds = PictureBounds(image);
            ExpectRectNear(bounds, QRect(0, 0, shown, shown * 3 / 4));
            for (const int x : {bounds.left(), bounds.left() + bounds.width() / 3, bounds.right()})
                for (const int row : {bounds.top(), bounds.center().y(), bounds.bottom() - 1, bounds.bottom()}) {
                    const double want = across ? expected(x - bounds.left(), bounds.width(), width)
                                               : expected(row - bounds.top(), bounds.height(), height);
                    EXPECT_NEAR(Luma(image.pixel(x, row)), want, 6.0) << "column " << x << ", row " << row;
                }
        }
    }
}

// The preview takes the same numbered frame of the same opening for the picture on screen; a
// frame of another input with the same number is a new picture, and so is any frame that no
// reader made.
TEST(PreviewWidget, AnotherInputsFrameWithTheSameNumberIsDrawn) {
    PreviewWidget widget;
    widget.resize(160, 120);
    auto labelled = [](int stamp, uint32_t source) {
        return test::WithHeader(test::MakeStampedFrame(160, 120, stamp, 0), [&](FrameHeader& header) {
            header.source = source;
            header.frameNumber = 7;
        });
    };
    widget.ShowFrame(labelled(0x0101, 1));
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 160, 120)), 0x0101);
    widget.ShowFrame(labelled(0x0202, 2));
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 160, 120)), 0x0202);
    widget.ShowFrame(labelled(0x0303, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 160, 120)), 0x0303);
    widget.ShowFrame(labelled(0x0404, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 160, 120)), 0x0404);
}

// The preview draws exactly the picture it is handed and keeps that frame (sharing its picture,
// never copying it), so it redraws it at a new size after the caller's frame has moved on.
TEST(PreviewWidget, DrawsAndKeepsThePictureItIsHanded) {
    const int number = 0x2468;
    const FrameData frame = test::MakeStampedFrame(160, 120, number, 280);
    const FrameView view = *ViewFrame(frame);
    // Colour in both chroma planes, so a picture drawn from the wrong planes would show it.
    const size_t chroma = static_cast<size_t>(view.linesizes[1]) * (view.header.height / 2);
    std::memset(const_cast<uint8_t*>(view.planes[1]), 60, chroma);
    std::memset(const_cast<uint8_t*>(view.planes[2]), 200, chroma);
    // The same pixels in a picture of its own.
    const FrameData copy = FrameFromPlanes(view.header, view.planes, view.linesizes);
    PreviewWidget reference;
    reference.resize(160, 120);
    reference.ShowFrame(copy);
    const QImage expected = Grab(reference);
    EXPECT_EQ(StampIn(expected, QRect(0, 0, 160, 120)), number);

    PreviewWidget widget;
    widget.resize(160, 120);
    FrameData shown = frame;
    widget.ShowFrame(shown);
    EXPECT_EQ(Grab(widget), expected);

    shown = test::MakeStampedFrame(160, 120, 0x0f0f, 0);  // the caller's frame moves on
    widget.resize(320, 240);
    EXPECT_TRUE(widget.HasFrame());
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 320, 240)), number);
    widget.resize(160, 120);
    EXPECT_EQ(Grab(widget), expected);
}

TEST(PreviewWidget, SampleAspectGivesTheDisplayShape) {
    PreviewWidget widget;
    widget.resize(512, 512);
    const struct {
        const char* what;
        FrameOptions options;
        QRect expected;
    } cases[] = {
        {"square pixels", {}, QRect(0, 51, 512, 410)},
        {"4:3 PAL", {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 16, 15}, QRect(0, 64, 512, 384)},
        {"16:9 PAL", {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 64, 45}, QRect(0, 112, 512, 288)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        widget.ShowFrame(UniformFrame(720, 576, kLightGrey, c.options));
        ExpectRectNear(PictureBounds(Grab(widget)), c.expected);
    }

    // At scale 1 the anamorphic frame is shown 1024 wide, cropped by the widget.
    widget.resize(1100, 600);
    widget.SetSizeMode(1);
    widget.ShowFrame(UniformFrame(720, 576, kLightGrey, {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 64, 45}));
    ExpectRectNear(PictureBounds(Grab(widget)), QRect(38, 12, 1024, 576));
}

TEST(PreviewWidget, AFrameWithAnUnreadablePictureIsRefusedAndTheOldPictureStays) {
    PreviewWidget widget;
    widget.resize(320, 240);
    const int number = 0x0f0f;
    widget.ShowFrame(test::MakeStampedFrame(320, 240, number, 0));

    EXPECT_THROW(widget.ShowFrame(test::UnreadableFrame()), EngineError);

    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 320, 240)), number);
}

TEST(PreviewWidget, PlaybackKeepsTheConverterReadyAndItsEndKeepsThePicture) {
    PreviewWidget widget;
    widget.resize(640, 360);
    widget.PrepareForPlayback(1280, 720);
    EXPECT_TRUE(widget.HoldsConverter());
    for (int number = 1; number <= 5; ++number) {
        widget.ShowFrame(test::MakeStampedFrame(1280, 720, number, number * 40));
        EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 640, 360)), number);
    }
    widget.PlaybackEnded();
    EXPECT_FALSE(widget.HoldsConverter());
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 640, 360)), 5);

    // Frames after playback still show.
    widget.ShowFrame(test::MakeStampedFrame(1280, 720, 9, 0));
    EXPECT_EQ(StampIn(Grab(widget), QRect(0, 0, 640, 360)), 9);
}

// A cut hands the preview frames far faster than a screen refreshes; whatever the preview
// leaves out, the newest frame must be the one drawn: at once when something paints the widget,
// and on its own at the screen's next refresh.
TEST(PreviewWidget, FramesFasterThanTheScreenEndWithTheNewestOnScreen) {
    PreviewWidget widget;
    widget.LimitToScreenRate(true);  // as during a cut
    widget.resize(320, 240);
    widget.show();
    const QRect whole(0, 0, 320, 240);
    // What the window system has of the widget, without painting it again.
    auto onScreen = [&] { return widget.screen()->grabWindow(widget.winId()).toImage().convertToFormat(QImage::Format_RGB32); };
    auto pumpUntilShown = [&](int number) {
        QElapsedTimer waited;
        waited.start();
        while (StampIn(onScreen(), whole) != number && waited.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return StampIn(onScreen(), whole);
    };
    widget.ShowFrame(test::MakeStampedFrame(640, 480, 1, 0));
    EXPECT_EQ(pumpUntilShown(1), 1);

    for (int number = 2; number <= 4; ++number) widget.ShowFrame(test::MakeStampedFrame(640, 480, number, number * 4));
    widget.Repaint();  // the window's repaint in the same cycle
    EXPECT_EQ(StampIn(Grab(widget), whole), 4);

    for (int number = 5; number <= 7; ++number) {
        widget.ShowFrame(test::MakeStampedFrame(640, 480, number, number * 4));
        widget.Repaint();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(pumpUntilShown(7), 7);
    // Once drawn, it stays.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(StampIn(onScreen(), whole), 7);

    // Playback and stepping: every frame reaches the screen in its own turn of the event loop,
    // however close together they come.
    widget.LimitToScreenRate(false);
    for (int number = 8; number <= 11; ++number) {
        widget.ShowFrame(test::MakeStampedFrame(640, 480, number, number * 4));
        widget.Repaint();
        QCoreApplication::processEvents();
        EXPECT_EQ(StampIn(onScreen(), whole), number);
    }
}

TEST(QtVideoView, LivesInItsWindowAndSurvivesTheWindowGoingFirst) {
    auto window = std::make_unique<QWidget>();
    window->resize(400, 300);
    QtVideoView view(window.get());
    ASSERT_NE(view.Widget(), nullptr);
    EXPECT_EQ(view.Widget()->parentWidget(), window.get());
    EXPECT_EQ(view.Widget()->objectName(), "VideoView1");

    view.Widget()->resize(320, 240);
    view.SetSizeMode(0);
    EXPECT_EQ(view.SizeMode(), 0);
    view.ShowFrame(test::MakeStampedFrame(160, 120, 77, 0));
    EXPECT_EQ(StampIn(Grab(*view.Widget()), QRect(80, 60, 160, 120)), 77);

    window.reset();
    EXPECT_EQ(view.Widget(), nullptr);
    EXPECT_NO_THROW(view.Clear());
    EXPECT_NO_THROW(view.PlaybackEnded());
    EXPECT_NO_THROW(view.SetSizeMode(2));
    EXPECT_THROW(view.ShowFrame(test::MakeStampedFrame(160, 120, 1, 0)), EngineError);
}

TEST(QtVideoView, ReleasingTheViewTakesItsWidgetOutOfTheWindow) {
    QWidget window;
    {
        QtVideoView view(&window);
        EXPECT_NE(window.findChild<PreviewWidget*>(), nullptr);
    }
    EXPECT_EQ(window.findChild<PreviewWidget*>(), nullptr);
}

}  // namespace
}  // namespace trimora
