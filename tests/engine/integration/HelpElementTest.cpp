// The skin's own "Help" element, as the real skin puts it on the main window and on the About
// window: clicking it opens the help file beside the program.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdlib>
#include <memory>
#include <vector>

#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "support/FakeEngine.h"

namespace trimora::test {
namespace {

class HelpElementTest : public testing::Test {
protected:
    QTemporaryDir temp;
    QString programFolder;
    FakePlatform platform;
    std::unique_ptr<EngineFactory> engine = CreateRealEngineFactory();
    std::unique_ptr<frmMain> window;

    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
        setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");
        programFolder = temp.path() + "/program";
        QDir().mkpath(programFolder + "/Languages");
        QFile::copy(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages/English.ini",
                    programFolder + "/Languages/English.ini");
        const QString skin = QString(TRIMORA_BIN_DIR) + "/trimora.skn";
        ASSERT_TRUE(QFile::exists(skin)) << "build the skin bundle (target trimora_skin_bundle) first";
        ASSERT_TRUE(QFile::copy(skin, programFolder + "/trimora.skn"));

        window = std::make_unique<frmMain>(*engine, platform, programFolder);
        window->Form_Load();
        window->show();
    }

    void TearDown() override {
        if (window) window->close();
        window.reset();
    }

    // The skin's help elements placed directly on `parent`.
    static QList<QToolButton*> HelpElementsOn(QWidget& parent) {
        return parent.findChildren<QToolButton*>("Help", Qt::FindDirectChildrenOnly);
    }
};

TEST_F(HelpElementTest, TheMainWindowsHelpElementOpensTheHelpFile) {
    const auto help = HelpElementsOn(*window);
    ASSERT_EQ(help.size(), 1);
    EXPECT_TRUE(help[0]->isVisible());
    EXPECT_TRUE(platform.shellOpened.empty());

    help[0]->click();
    EXPECT_EQ(platform.shellOpened, std::vector<QString>{programFolder + "/trimora.chm"});
    EXPECT_TRUE(platform.messages.empty());
}

// The About window is skinned like the main window, so it carries the same help element, in a
// corner clear of its own controls, and each showing has exactly one.
TEST_F(HelpElementTest, TheAboutWindowCarriesTheSameHelpElement) {
    for (int showing = 1; showing <= 2; ++showing) {
        SCOPED_TRACE(showing);
        platform.shellOpened.clear();
        bool checked = false;
        platform.onModal = [&](QDialog* dialog) {
            auto* about = qobject_cast<frmAbout*>(dialog);
            ASSERT_NE(about, nullptr);
            about->show();
            EXPECT_FALSE(about->styleSheet().isEmpty());
            const auto help = HelpElementsOn(*about);
            ASSERT_EQ(help.size(), 1);
            EXPECT_TRUE(help[0]->isVisible());
            EXPECT_TRUE(about->rect().contains(help[0]->geometry()));
            for (QWidget* control : std::initializer_list<QWidget*>{about->cmdOK, about->Label1, about->Label2,
                                                                   about->Label3, about->Label4})
                EXPECT_FALSE(control->geometry().intersects(help[0]->geometry())) << control->objectName().toStdString();

            help[0]->click();
            EXPECT_EQ(platform.shellOpened, std::vector<QString>{programFolder + "/trimora.chm"});
            EXPECT_TRUE(about->isVisible());  // asking for help leaves the About window open
            about->cmdOK->click();
            checked = true;
        };
        window->cmdHelp->click();
        platform.onModal = nullptr;
        EXPECT_TRUE(checked);
    }
    // The main window still has its one help element.
    EXPECT_EQ(HelpElementsOn(*window).size(), 1);
}

}  // namespace
}  // namespace trimora::test
