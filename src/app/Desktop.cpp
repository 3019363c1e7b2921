// The desktop conventions around the window: files from the command line and dropped on the
// window, keyboard shortcuts, accessible names in the current language, and the data folder.
#include "app/Desktop.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

#include "app/frmMain.h"
#include "i18n/IniReader.h"

namespace trimora {

namespace {

// The local file a path or a file URL names; empty for anything else.
QString LocalFile(const QString& pathOrUrl, const QString& currentFolder) {
    if (pathOrUrl.startsWith("file:", Qt::CaseInsensitive)) return QUrl(pathOrUrl).toLocalFile();
    if (pathOrUrl.isEmpty()) return {};
    return QDir(currentFolder).absoluteFilePath(pathOrUrl);
}

// The one local file a drag carries, or empty.
QString DraggedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().first();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

QString WithShortcut(const QString& text, const QKeySequence& keys) {
    return text + " (" + keys.toString(QKeySequence::NativeText) + ")";
}

const QKeySequence kOpenKeys(Qt::CTRL | Qt::Key_O);
const QKeySequence kSaveFrameKeys(Qt::CTRL | Qt::Key_S);
const QKeySequence kExitKeys(Qt::CTRL | Qt::Key_Q);
const QKeySequence kHelpKeys(Qt::Key_F1);
const QKeySequence kPlayKeys(Qt::Key_Space);

}  // namespace

QString ProgramFolderFor(const QString& binaryFolder) {
    const QDir beside(binaryFolder);
    if (beside.exists("Languages") || beside.exists("trimora.skn")) return beside.absolutePath();
    const QDir installed(beside.absoluteFilePath(QStringLiteral(TRIMORA_DATA_FROM_BINARY)));
    if (installed.exists()) return installed.absolutePath();
    return beside.absolutePath();
}

QStringList FilesFromArguments(const QStringList& arguments, const QString& currentFolder) {
    QStringList files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith('-')) continue;
        const QString file = LocalFile(arguments[i], currentFolder);
        if (!file.isEmpty()) files << QDir::cleanPath(file);
    }
    return files;
}

QString InstallReport(frmMain& window, bool& complete) {
    const QString folder = window.ProgramFolder();
    const bool skinned = !window.styleSheet().isEmpty();
    const bool chm = QFileInfo(folder + "/trimora.chm").isFile();
    const bool html = QFileInfo(folder + "/help/index.html").isFile();
    QStringList languages;
    for (int i = 0; i < window.LstLang->count(); ++i) languages << window.LstLang->itemText(i);
    complete = !languages.isEmpty() && skinned && chm && html;
    return QStringList{
        "program folder: " + folder,
        "languages: " + languages.join(' '),
        QString("skin: ") + (skinned ? "loaded" : "missing"),
        QString("help: ") + (chm ? "trimora.chm" : "no trimora.chm") + ", " + (html ? "help/index.html" : "no help/index.html"),
    }.join('\n');
}

void frmMain::OpenChosenFile(const QString& path) {
    commonDialog->FileName = path;
    CommonDialog::RememberFolderOf(path);
    OpenInputFile(path);
}

void frmMain::OpenFromDesktop(const QString& pathOrUrl) {
    const QString path = LocalFile(pathOrUrl, QDir::currentPath());
    if (path.isEmpty() || !cmdFile->isEnabled()) return;
    RunGuarded([&] { OpenChosenFile(path); });
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    // A file is taken when the input button could be pressed (not during a cut or split).
    if (!DraggedFile(event->mimeData()).isEmpty() && cmdFile->isEnabled()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const QString file = DraggedFile(event->mimeData());
    if (file.isEmpty() || !cmdFile->isEnabled()) return;
    event->acceptProposedAction();
    RunGuarded([&] { OpenChosenFile(file); });
}

void frmMain::CreateShortcuts() {
    const auto add = [this](const QKeySequence& keys, Qt::ShortcutContext context, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(context);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    const auto press = [](QPushButton* button) {
        return [button] {
            if (button->isEnabled()) button->click();
        };
    };
    add(kOpenKeys, Qt::WindowShortcut, press(cmdFile));
    add(kSaveFrameKeys, Qt::WindowShortcut, press(cmdSavePictureAs));

    add(kExitKeys, Qt::WindowShortcut, press(cmdExit));
    // Help also from the About window.
    add(kHelpKeys, Qt::ApplicationShortcut, [this] { RunGuarded([this] { HelpCommand("Help"); }); });
}

// Space plays and stops when the window itself or a mark's thumb has the focus (the thumbs pass
// it on); a focused text box types it, and buttons and lists take it as their own press.
void frmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (cmdPlayStop->isEnabled()) cmdPlayStop->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::MarkValueRequested(int mark, int value) {
    PictureBox* thumb = mark == 1 ? sldThum : sldThum2;
    Slider* slider = mark == 1 ? SliderTimePosition1 : SliderTimePosition2;
    // Only while the thumb could be dragged, and with the same results as a drag.
    if (!thumb->isEnabled()) return;
    slider->SetValue(value);
    PlayPosition[static_cast<size_t>(mark)] = VideoFileIn1->CurrentVideoPosition();
}

QString frmMain::DesktopText(int key, const char* english) {
    return QString::fromStdString(
        ReadProfileString("Desktop", std::to_string(key), english, CurLangPath.toStdString()));
}

void frmMain::SetAccessibleTexts() {
    const auto name = [](QWidget* widget, const QString& text) { widget->setAccessibleName(text); };
    const auto named = [](QWidget* widget, const QString& text) {
        widget->setAccessibleName(text);
        widget->setToolTip(text);
    };
    const auto caption = [this](int key) { return GetFromINI("frmMain", QString::number(key)); };
    const bool languageRead = QFileInfo(CurLangPath).isFile();
    // Before a language is read the captions are the built-in ones.
    const auto captionOr = [&](int key, const QString& builtIn) { return languageRead ? caption(key) : builtIn; };

    named(cmdFile, DesktopText(1, "Open an input video"));
    cmdFile->setToolTip(WithShortcut(cmdFile->accessibleName(), kOpenKeys));
    named(cmdOutFile, DesktopText(2, "Choose the output file"));
    named(cmdOutFile2, DesktopText(3, "Choose the second output file"));
    named(EdOutFile, DesktopText(4, "Output file"));
    named(EdOutFile2, DesktopText(5, "Second output file of a split"));
    name(txtFile, DesktopText(6, "Input video file"));

    const QString markDescription = DesktopText(9, "Drag to choose the frame; the arrow keys step one frame.");
    name(sldThum, DesktopText(7, "Mark 1"));
    name(sldThum2, DesktopText(8, "Mark 2"));
    name(SliderTimePosition1, sldThum->accessibleName());
    name(SliderTimePosition2, sldThum2->accessibleName());
    for (QWidget* mark : std::initializer_list<QWidget*>{sldThum, sldThum2, SliderTimePosition1, SliderTimePosition2})
        mark->setAccessibleDescription(markDescription);
    named(cmdPrevFrame, DesktopText(10, "Mark 1: one frame back"));
    named(cmdNextFrame, DesktopText(11, "Mark 1: one frame forward"));
    named(cmdPrevFrame2, DesktopText(12, "Mark 2: one frame back"));
    named(cmdNextFrame2, DesktopText(13, "Mark 2: one frame forward"));
    name(sldBack, DesktopText(14, "Track of mark 1"));
    name(sldBack2, DesktopText(15, "Track of mark 2"));
    name(lblreg, DesktopText(16, "Selected stretch"));
    named(VideoView1Widget, DesktopText(17, "Preview of the video"));

    name(cmbAVICodecs, DesktopText(18, "AVI video codec"));
    name(cmbWMVCodecs, DesktopText(19, "Windows Media profile"));
    named(cmbVideoSize, DesktopText(20, "Preview size"));
    named(cmbPlaySld, DesktopText(21, "Play from mark"));
    name(FrameOptVideoAvi, DesktopText(22, "AVI video options"));
    name(FrameOptAudioAvi, DesktopText(23, "AVI audio options"));
    name(FrameOptVideoMpeg, DesktopText(24, "MPEG video options"));
    name(FrameOptAudioMpeg, DesktopText(25, "MPEG audio options"));
    name(FrameOptVersionMpeg, DesktopText(26, "MPEG version"));
    name(FrameOptVideoWMV, DesktopText(27, "Windows Media options"));

    named(LstLang, captionOr(18, "Language"));
    name(EdInfoVideo, captionOr(12, "Video Information"));
    name(EdInfoAudio, captionOr(13, "Audio Information"));

    cmdPlayStop->setAccessibleDescription(DesktopText(28, "Plays from the chosen mark, or stops."));
    cmdPlayStop->setToolTip(WithShortcut(captionOr(29, "Play") + " / " + captionOr(30, "Stop"), kPlayKeys));
    cmdSavePictureAs->setAccessibleDescription(DesktopText(29, "Saves the frame shown as a picture."));
    cmdSavePictureAs->setToolTip(WithShortcut(cmdSavePictureAs->accessibleDescription(), kSaveFrameKeys));
    cmdExit->setToolTip(WithShortcut(captionOr(26, "Exit"), kExitKeys));
}

}  // namespace trimora
