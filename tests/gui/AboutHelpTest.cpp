// The About window, the help command reached through the skin's element clicks, and the preview
// size list, on the scripted engine.
#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QWindow>
#include <string>
#include <vector>

#include "app/frmAbout.h"
#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

// The texts the About window showed while it was open.
struct AboutTexts {
    QString title, name, version, notice, description;
    bool operator==(const AboutTexts&) const = default;
};

// Major and minor version as the project declares them in its CMakeLists.txt.
std::pair<int, int> ProjectVersion() {
    QFile file(QString(TRIMORA_SOURCE_DIR) + "/CMakeLists.txt");
    if (!file.open(QIODevice::ReadOnly)) return {-1, -1};
    const QRegularExpression project(R"(project\s*\(\s*\w+\s+VERSION\s+(\d+)\.(\d+))");
    const QRegularExpressionMatch match = project.match(QString::fromUtf8(file.readAll()));
    if (!match.hasMatch()) return {-1, -1};
    return {match.captured(1).toInt(), match.captured(2).toInt()};
}

class AboutTest : public WindowFixture {
protected:
    // Writes a language file into the program's language folder.
    void WriteLanguage(const QString& name, const QString& text) {
        QFile file(programFolder + "/Languages/" + name + ".ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    void SelectLanguage(const QString& name) {
        const int row = window->LstLang->findText(name);
        ASSERT_GE(row, 0) << name.toStdString();
        window->LstLang->setCurrentIndex(row);
        window->LstLang_Click();
    }

    // Presses About and returns what the window showed while open; `whileOpen` runs then too.
    AboutTexts ShowAbout(const std::function<void(frmAbout&)>& whileOpen = {}) {
        AboutTexts texts;
        int shown = 0;
        platform.onModal = [&](QDialog* dialog) {
            ++shown;
            auto* about = qobject_cast<frmAbout*>(dialog);
            if (!about) return;
            texts = {about->windowTitle(), about->Label2->Caption(), about->Label1->Caption(),
                     about->Label4->Caption(), about->Label3->Caption()};
            if (whileOpen) whileOpen(*about);
        };
        window->cmdHelp->click();
        platform.onModal = nullptr;
        EXPECT_EQ(shown, 1);
        return texts;
    }
};

const char* const kTestishLanguage =
    "[frmMain]\n25=Ueber\n"
    "[MSGX]\n26=Ueber Trimora\n27=Fassung\n28=Rechte (c)\n29=Ein Programm zum Schneiden\n";

TEST_F(AboutTest, ShowsTheCurrentLanguageEachTimeItIsOpened) {
    WriteLanguage("Testish", kTestishLanguage);
    Load();
    const auto [major, minor] = ProjectVersion();
    ASSERT_GE(major, 0);
    const QString version = QString::number(major) + "." + QString::number(minor);

    const AboutTexts first = ShowAbout();
    EXPECT_EQ(first.title, "About Trimora");
    EXPECT_EQ(first.name, "Trimora");
    EXPECT_EQ(first.version, "Version " + version);
    EXPECT_TRUE(first.notice.startsWith("Copyright © ")) << first.notice.toStdString();
    EXPECT_GT(first.notice.size(), QString("Copyright © ").size());
    EXPECT_EQ(first.description, "A program to cut, split and capture video files");

    EXPECT_EQ(ShowAbout(), first);

    SelectLanguage("Testish");
    const AboutTexts translated = ShowAbout();
    EXPECT_EQ(translated.title, "Ueber Trimora");
    EXPECT_EQ(translated.name, "Trimora");
    EXPECT_EQ(translated.version, "Fassung " + version);
    // The fixed notice follows the language's own words unchanged.
    EXPECT_EQ(translated.notice, "Rechte (c)" + first.notice.mid(QString("Copyright ©").size()));
    EXPECT_EQ(translated.description, "Ein Programm zum Schneiden");

    SelectLanguage("English");
    EXPECT_EQ(ShowAbout(), first);
}

TEST_F(AboutTest, AMissingMessageShowsTheLookupsFallback) {
    WriteLanguage("Sparse", "[MSGX]\n27=v\n");
    Load();
    SelectLanguage("Sparse");
    const AboutTexts texts = ShowAbout();
    EXPECT_EQ(texts.title, "Default");
    EXPECT_TRUE(texts.version.startsWith("v ")) << texts.version.toStdString();
    EXPECT_TRUE(texts.notice.startsWith("Default ")) << texts.notice.toStdString();
    EXPECT_EQ(texts.description, "Default");
}

TEST_F(AboutTest, IsSkinnedAndColouredAndModalOverTheMainWindow) {
    Load();
    window->show();
    engine.log.Clear();
    QPointer<frmAbout> opened;
    const QColor sage(179, 188, 152);

    ShowAbout([&](frmAbout& about) {
        opened = &about;
        // Skinned as a whole before it is shown, with the main window's skin.
        EXPECT_EQ(engine.log.With("skin."), std::vector<std::string>{"skin.SkinWindow(frmAbout)"});
        EXPECT_EQ(about.palette().color(QPalette::Window), sage);
        EXPECT_TRUE(about.autoFillBackground());
        EXPECT_EQ(about.parentWidget(), window.get());
        EXPECT_TRUE(about.isWindow());
        EXPECT_TRUE(about.isModal());
        EXPECT_NE(about.windowModality(), Qt::NonModal);
        for (QWidget* control : std::initializer_list<QWidget*>{about.cmdOK, about.Label1, about.Label2,
                                                               about.Label3, about.Label4})
            EXPECT_EQ(control->parentWidget(), &about);

        // On screen it is the modal window, and a click on the main window does not get through.
        about.show();
        ASSERT_TRUE(about.isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), &about);
        const QPoint onInputButton = window->cmdFile->mapTo(window.get(), window->cmdFile->rect().center());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, onInputButton);
        EXPECT_TRUE(platform.dialogRequests.empty());

        about.cmdOK->click();
        EXPECT_FALSE(about.isVisible());
    });
    // Closed and unloaded once the handler returns.
    EXPECT_TRUE(opened.isNull());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The same click reaches the main window now.
    const QPoint onInputButton = window->cmdFile->mapTo(window.get(), window->cmdFile->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, onInputButton);
    EXPECT_EQ(platform.dialogRequests.size(), 1u);
}

TEST_F(AboutTest, OkAndTheTitleBarCloseBothCloseIt) {
    Load();
    window->show();
    for (const bool byTitleBar : {false, true}) {
        SCOPED_TRACE(byTitleBar ? "title bar" : "OK");
        QPointer<frmAbout> opened;
        bool hiddenAfterClose = false;
        int result = -1;
        ShowAbout([&](frmAbout& about) {
            opened = &about;
            about.show();
            if (byTitleBar)
                about.close();  // what the title bar's close button sends
            else
                QTest::mouseClick(about.cmdOK, Qt::LeftButton);
            hiddenAfterClose = !about.isVisible();
            result = about.result();
        });
        EXPECT_TRUE(hiddenAfterClose);
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(opened.isNull());
    }
    // Each showing is a fresh window coloured on load again.
    ShowAbout([](frmAbout& about) { EXPECT_EQ(about.palette().color(QPalette::Window), QColor(179, 188, 152)); });
}

class AboutHelpTest : public WindowFixture {};

TEST_F(AboutHelpTest, OnlyTheSkinsHelpElementOpensTheHelpFile) {
    Load();
    for (const char* other : {"help", "HELP", " Help", "Help ", "Helper", "", "Button", "SLDTHUM"})
        engine.skin->Click(other);
    window->HelpCommand("help");
    EXPECT_TRUE(platform.shellOpened.empty());

    engine.skin->Click("Help");
    EXPECT_EQ(platform.shellOpened, std::vector<QString>{programFolder + "/trimora.chm"});
    EXPECT_TRUE(platform.messages.empty());
}

// Help opens something on every machine: the compiled help in its viewer, else the same pages in
// the web browser, else a message that says where the help is, in the current language.
TEST_F(AboutHelpTest, WithoutAViewerTheHelpOpensAsWebPagesOrSaysWhereItIs) {
    Load();
    const QString compiled = programFolder + "/trimora.chm";
    const QString pages = programFolder + "/help/index.html";
    struct Case {
        QStringList withoutViewer;
        std::vector<QString> asked;
        bool message;
    };
    for (const Case& c : {Case{{".chm"}, {compiled, pages}, false}, Case{{".chm", ".html"}, {compiled, pages}, true}}) {
        SCOPED_TRACE(c.withoutViewer.join(' ').toStdString());
        platform.shellOpened.clear();
        platform.messages.clear();
        platform.suffixesWithoutViewer = c.withoutViewer;
        engine.skin->Click("Help");
        EXPECT_EQ(platform.shellOpened, c.asked);
        if (!c.message) {
            EXPECT_TRUE(platform.messages.empty());
            continue;
        }
        ASSERT_EQ(platform.messages.size(), 1u);
        EXPECT_TRUE(platform.messages[0].first.startsWith("The help could not be opened."));
        EXPECT_TRUE(platform.messages[0].first.contains(compiled));
        EXPECT_TRUE(platform.messages[0].first.contains(pages));
    }
    // The message in the current language; "help" in lower case still does nothing.
    window->LstLang->setCurrentIndex(window->LstLang->findText("German"));
    window->LstLang_Click();
    platform.messages.clear();
    platform.shellOpened.clear();
    window->HelpCommand("help");
    EXPECT_TRUE(platform.shellOpened.empty());
    EXPECT_TRUE(platform.messages.empty());
    window->HelpCommand("Help");
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(platform.messages[0].first.startsWith("Die Hilfe konnte nicht"));
}

// The usual shortcuts press their buttons and are named in the buttons' tooltips; a text box keeps
// the keys it types, and the arrow keys on a focused thumb step its mark.
TEST_F(AboutHelpTest, ShortcutsPressTheirButtonsAndLeaveTextBoxesTheirKeys) {
    frmMain& w = Load();
    Open();
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(w.cmdFile->toolTip().contains("Ctrl+O"));
    EXPECT_TRUE(w.cmdPlayStop->toolTip().contains("Space"));
    EXPECT_TRUE(w.cmdSavePictureAs->toolTip().contains("Ctrl+S"));
    EXPECT_TRUE(w.cmdExit->toolTip().contains("Ctrl+Q"));

    // Space in an output box is typed; on a thumb it plays, and on what takes the focus from the
    // locked thumb it stops; on the window itself it plays too.
    w.EdOutFile->setFocus();
    w.EdOutFile->setCursorPosition(0);
    QTest::keyClick(w.EdOutFile, Qt::Key_Space);
    EXPECT_EQ(w.EdOutFile->text(), " /videos/clip_1.avi");
    EXPECT_FALSE(w.Playing);
    w.sldThum->setFocus();
    QTest::keyClick(w.sldThum, Qt::Key_Space);
    EXPECT_TRUE(w.Playing);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(w.Playing);
    QTest::keyClick(&w, Qt::Key_Space);
    EXPECT_TRUE(w.Playing);
    w.cmdPlayStop->click();
    ASSERT_FALSE(w.Playing);
    QTest::keyClick(w.sldThum, Qt::Key_Right);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 2);
    // A focused button takes Space as its own press.
    w.optMP3->setFocus();
    QTest::keyClick(w.optMP3, Qt::Key_Space);
    EXPECT_TRUE(w.optMP3->isChecked());
    EXPECT_FALSE(w.Playing);

    // Ctrl+O and Ctrl+S open their dialogs, also from a text box; F1 asks for help.
    w.EdOutFile->setFocus();
    QTest::keyClick(w.EdOutFile, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(w.EdOutFile, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(platform.dialogRequests.size(), 2u);
    EXPECT_EQ(platform.dialogRequests[0].title, "Open Video File");
    EXPECT_EQ(platform.dialogRequests[1].title, "Save Picture To File");
    EXPECT_EQ(w.EdOutFile->text(), " /videos/clip_1.avi");
    QTest::keyClick(&w, Qt::Key_F1);
    EXPECT_EQ(platform.shellOpened, std::vector<QString>{programFolder + "/trimora.chm"});
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(AboutHelpTest, PreviewSizeRowsPassTheNumberTheirTextBeginsWith) {
    Load();
    // Start-up selects the first row.
    EXPECT_TRUE(engine.log.Has("view.SetSizeMode(-1)"));
    EXPECT_EQ(engine.view->sizeMode, -1);

    const std::vector<int> modes = {-1, 0, 1, 2, 3, 4, 5, 8};
    ASSERT_EQ(window->cmbVideoSize->count(), static_cast<int>(modes.size()));
    for (int row = 0; row < window->cmbVideoSize->count(); ++row) {
        SCOPED_TRACE(row);
        engine.log.Clear();
        window->SelectRow(window->cmbVideoSize, row);
        // The mode is passed, then the list is skinned again.
        EXPECT_EQ(engine.log.calls, (std::vector<std::string>{"view.SetSizeMode(" + std::to_string(modes[row]) + ")",
                                                              "skin.SkinControl(cmbVideoSize,Button)"}));
    }
}

TEST_F(AboutHelpTest, PreviewSizeRowsFollowTheLanguagesTexts) {
    const auto write = [this](const QString& name, const QString& text) {
        QFile file(programFolder + "/Languages/" + name + ".ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    };
    // Rows 0 and 1 given words only, or missing (the lookup then gives "Default").
    write("Wordy", "[frmMain]\n27=Zoom To Fit\n");
    // Fractions round halves to the even neighbour; blanks among the digits are skipped.
    write("Halves", "[frmMain]\n27=2.5 Double\n28=- 1 2.5 Back\n");
    Load();
    const auto modeOfRow = [this](const QString& language, int row) {
        window->LstLang->setCurrentIndex(window->LstLang->findText(language));
        window->LstLang_Click();
        window->SelectRow(window->cmbVideoSize, row);
        return engine.view->sizeMode;
    };
    EXPECT_EQ(modeOfRow("Wordy", 0), 0);
    EXPECT_EQ(modeOfRow("Wordy", 1), 0);
    EXPECT_EQ(modeOfRow("Halves", 0), 2);
    EXPECT_EQ(modeOfRow("Halves", 1), -12);
    EXPECT_EQ(modeOfRow("English", 0), -1);
    EXPECT_EQ(modeOfRow("English", 1), 0);
}

}  // namespace
}  // namespace trimora::test
