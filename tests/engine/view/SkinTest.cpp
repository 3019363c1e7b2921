// The skin component with the skin file the build makes: loading, the elements the main window
// asks for, tagging controls so the style sheet draws them, and the help element's clicks.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <fstream>
#include <memory>

#include "engine/EngineError.h"
#include "engine/skin/QtSkin.h"
#include "support/TestClips.h"

namespace trimora {
namespace {

std::string BuiltSkin() { return std::string(TRIMORA_BIN_DIR) + "/trimora.skn"; }

const char* const kWindowElements[] = {"SLDBACK", "SLDTHUM", "SLD_BTN_R", "SLD_BTN_L", "CurSel", "Button"};

QImage Grab(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

int DarkPixels(const QImage& image, int threshold) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < threshold) ++count;
    return count;
}

bool IsAmber(QRgb c) { return qRed(c) > qBlue(c) + 60 && qGreen(c) > qBlue(c) + 20; }

class LoadedSkin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(QString::fromStdString(BuiltSkin())))
            << BuiltSkin() << " is missing: build the trimora_skin_bundle target";
        skin.LoadSkinFile(BuiltSkin());
        window.setObjectName("frmMain");
        window.resize(320, 200);
    }

    QtSkin skin;
    QWidget window;
};

TEST_F(LoadedSkin, HasEveryElementTheMainWindowAsksForAndEveryPictureItNames) {
    ASSERT_TRUE(skin.IsLoaded());
    for (const char* element : kWindowElements) EXPECT_TRUE(skin.Elements().contains(element)) << element;
    EXPECT_TRUE(skin.StyleSheet().contains("QToolButton#Help"));

    static const QRegularExpression url(QStringLiteral("url\\((:/skin/[^)]+)\\)"));
    int pictures = 0;
    for (const QRegularExpressionMatch& match : url.globalMatch(skin.StyleSheet())) {
        const QString path = match.captured(1);
        EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
        ++pictures;
    }
    EXPECT_GE(pictures, 6);
}

TEST_F(LoadedSkin, SkinnedControlsAreTaggedAndDrawnAsTheirElement) {
    skin.SkinWindow(&window);
    EXPECT_EQ(window.styleSheet(), skin.StyleSheet());

    auto* thumb = new QWidget(&window);
    thumb->setGeometry(10, 10, 12, 24);
    const QRgb plainThumb = Grab(*thumb).pixel(2, 3);
    skin.SkinControl(thumb, "SLDTHUM");
    EXPECT_EQ(thumb->property(QtSkin::kElementProperty).toString(), "SLDTHUM");
    EXPECT_FALSE(IsAmber(plainThumb));
    EXPECT_TRUE(IsAmber(Grab(*thumb).pixel(2, 3)));

    auto* track = new QWidget(&window);
    track->setGeometry(10, 40, 200, 14);
    const int plainTrack = qGray(Grab(*track).pixel(100, 4));
    skin.SkinControl(track, "SLDBACK");
    EXPECT_LT(qGray(Grab(*track).pixel(100, 4)), plainTrack - 40);

    // Step buttons have no caption: the skin draws their arrows.
    for (const char* element : {"SLD_BTN_R", "SLD_BTN_L"}) {
        SCOPED_TRACE(element);
        auto* step = new QPushButton(&window);
        step->setGeometry(230, 40, 22, 17);
        EXPECT_LT(DarkPixels(Grab(*step), 90), 4);
        skin.SkinControl(step, element);
        EXPECT_GT(DarkPixels(Grab(*step), 90), 20);
    }

    auto* marker = new QLabel(&window);
    marker->setGeometry(10, 70, 67, 4);
    skin.SkinControl(marker, "CurSel");
    EXPECT_TRUE(IsAmber(Grab(*marker).pixel(30, 2)));

    auto* list = new QComboBox(&window);
    list->addItems({"1", "2"});
    skin.SkinControl(list, "Button");
    // Skinned again after every selection, as the window does.
    list->setCurrentIndex(1);
    skin.SkinControl(list, "Button");
    EXPECT_EQ(list->property(QtSkin::kElementProperty).toString(), "Button");
}

TEST_F(LoadedSkin, UnknownElementsAndMissingControlsLeaveEverythingPlain) {
    skin.SkinWindow(&window);
    auto* control = new QWidget(&window);
    control->setGeometry(0, 0, 20, 20);
    const QImage plain = Grab(*control);
    for (const char* element : {"NoSuchElement", "sldthum", "", "Help"}) {
        EXPECT_NO_THROW(skin.SkinControl(control, element)) << element;
        EXPECT_FALSE(control->property(QtSkin::kElementProperty).isValid()) << element;
    }
    EXPECT_EQ(Grab(*control), plain);
    EXPECT_NO_THROW(skin.SkinControl(nullptr, "SLDTHUM"));
    EXPECT_NO_THROW(skin.SkinWindow(nullptr));
}

TEST_F(LoadedSkin, TheHelpElementSitsInTheCornerAndReportsClicksAsHelp) {
    std::vector<std::string> clicked;
    skin.SetElementClickHandler([&](const SkinElement& element) { clicked.push_back(element.name); });
    window.show();
    skin.SkinWindow(&window);
    auto* help = window.findChild<QToolButton*>("Help");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_GE(help->x(), window.width() - 30);
    EXPECT_LE(help->geometry().right(), window.width() - 1);
    EXPECT_LE(help->y(), 6);

    help->click();
    EXPECT_EQ(clicked, std::vector<std::string>{"Help"});

    // It follows the corner when the window grows, and stays above controls added later.
    window.resize(600, 400);
    EXPECT_GE(help->x(), 570);
    auto* later = new QWidget(&window);
    later->setGeometry(0, 0, 600, 40);
    later->show();
    EXPECT_EQ(window.childAt(help->geometry().center()), help);

    // Skinning the same window again (the About window, each time it is shown) keeps one element.
    skin.SkinWindow(&window);
    EXPECT_EQ(window.findChildren<QToolButton*>("Help").size(), 1);
    window.findChild<QToolButton*>("Help")->click();
    EXPECT_EQ(clicked.size(), 2u);
}

TEST(QtSkin, AMissingOrBrokenSkinFileThrowsAndLeavesTheWindowPlain) {
    QtSkin skin;
    EXPECT_THROW(skin.LoadSkinFile(test::TempPath(".skn")), EngineError);
    const std::string broken = test::TempPath(".skn");
    std::ofstream(broken) << "not a resource bundle, just text\n";
    EXPECT_THROW(skin.LoadSkinFile(broken), EngineError);
    EXPECT_FALSE(skin.IsLoaded());

    QWidget window;
    auto* thumb = new QWidget(&window);
    EXPECT_NO_THROW(skin.SkinWindow(&window));
    EXPECT_NO_THROW(skin.SkinControl(thumb, "SLDTHUM"));
    EXPECT_TRUE(window.styleSheet().isEmpty());
    EXPECT_EQ(window.findChild<QToolButton*>("Help"), nullptr);
    EXPECT_FALSE(thumb->property(QtSkin::kElementProperty).isValid());
}

TEST(QtSkin, ReleasingTheSkinTakesItsHelpElementAndItsFilesAway) {
    QWidget window;
    bool called = false;
    {
        QtSkin skin;
        skin.LoadSkinFile(BuiltSkin());
        skin.SetElementClickHandler([&](const SkinElement&) { called = true; });
        skin.SkinWindow(&window);
        EXPECT_NE(window.findChild<QToolButton*>("Help"), nullptr);
        EXPECT_TRUE(QFile::exists(QtSkin::kStyleSheetPath));
    }
    EXPECT_EQ(window.findChild<QToolButton*>("Help"), nullptr);
    EXPECT_FALSE(QFile::exists(QtSkin::kStyleSheetPath));
    EXPECT_FALSE(called);

    // The other way round: the window goes first and the skin lets go cleanly afterwards.
    auto skin = std::make_unique<QtSkin>();
    skin->LoadSkinFile(BuiltSkin());
    {
        QWidget about;
        skin->SkinWindow(&about);
    }
    EXPECT_NO_THROW(skin.reset());
}

TEST(QtSkin, ElementsAreTheNamesTheStyleSheetHasRulesFor) {
    const QString sheet = QStringLiteral(
        "/* QWidget[skinElement=\"Ghost\"] is only talked about */\n"
        "QWidget[skinElement=\"A\"] { color: red; }\n"
        "QLabel[ skinElement = \"B\" ]:hover, QPushButton[skinElement=\"C\"] { color: blue; }\n"
        "QWidget[otherProperty=\"D\"] { color: green; }\n");
    EXPECT_EQ(QtSkin::ElementsOf(sheet), (std::set<std::string>{"A", "B", "C"}));
}

}  // namespace
}  // namespace trimora
