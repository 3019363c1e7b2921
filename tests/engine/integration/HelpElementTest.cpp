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
#include "support/RealWindowFixture.h"

namespace trimora::test {
namespace {

class HelpElementTest : public RealWindowFixture {
protected:
    void SetUp() override {
        RealWindowFixture::SetUp();
        LoadSkinnedAndShow();
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
