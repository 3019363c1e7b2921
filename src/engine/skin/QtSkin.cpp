#include "engine/skin/QtSkin.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QResource>
#include <QStyle>
#include <QWidget>

#include "engine/EngineError.h"
#include "engine/skin/HelpCorner.h"

namespace trimora {

QtSkin::~QtSkin() { Unload(); }

std::set<std::string> QtSkin::ElementsOf(const QString& styleSheet) {
    static const QRegularExpression selector(QStringLiteral("\\[\\s*skinElement\\s*=\\s*\"([^\"]+)\"\\s*\\]"));
    // Comments may mention elements the sheet does not style.
    static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QString rules = styleSheet;
    rules.remove(comment);
    std::set<std::string> names;
    for (const QRegularExpressionMatch& match : selector.globalMatch(rules))
        names.insert(match.captured(1).toStdString());
    return names;
}

void QtSkin::Unload() {
    for (const QPointer<QToolButton>& button : helpButtons_) delete button.data();
    helpButtons_.clear();
    if (!registeredPath_.isEmpty()) QResource::unregisterResource(registeredPath_);
    registeredPath_.clear();
    styleSheet_.clear();
    elements_.clear();
}

void QtSkin::LoadSkinFile(const std::string& path) {
    Unload();
    const QFileInfo info(QString::fromStdString(path));
    // Unregistering matches the path text, and the program may change its current folder.
    const QString file = info.absoluteFilePath();
    if (!info.isFile()) throw EngineError("The skin file " + path + " does not exist.");
    if (!QResource::registerResource(file)) throw EngineError("The skin file " + path + " is not a skin.");
    registeredPath_ = file;

    QFile sheet(QString::fromLatin1(kStyleSheetPath));
    if (!sheet.open(QIODevice::ReadOnly)) {
        Unload();
        throw EngineError("The skin file " + path + " holds no style sheet.");
    }
    styleSheet_ = QString::fromUtf8(sheet.readAll());
    elements_ = ElementsOf(styleSheet_);
    if (styleSheet_.isEmpty()) {
        Unload();
        throw EngineError("The skin file " + path + " holds an empty style sheet.");
    }
}

void QtSkin::SkinWindow(QWidget* window) {
    if (!window || !IsLoaded()) return;
    window->setStyleSheet(styleSheet_);
    // The About window is skinned each time it is shown; it keeps the one help element it got.
    for (const QPointer<QToolButton>& button : helpButtons_)
        if (button && button->parentWidget() == window) return;
    auto* help = new HelpCorner(window);
    QObject::connect(help, &QToolButton::clicked, help, [this] { ElementClicked(kHelpElement); });
    helpButtons_.emplace_back(help);
}

void QtSkin::SkinControl(QWidget* control, const std::string& element) {
    if (!control || !elements_.contains(element)) return;
    control->setProperty(kElementProperty, QString::fromStdString(element));
    // Pictures that only draw what the style sheet gives them need a styled background.
    control->setAttribute(Qt::WA_StyledBackground, true);
    // Property selectors are matched when a widget is polished, so polish it again.
    QStyle* style = control->style();
    style->unpolish(control);
    style->polish(control);
    control->update();
}

void QtSkin::SetElementClickHandler(std::function<void(const SkinElement&)> handler) {
    clickHandler_ = std::move(handler);
}

void QtSkin::ElementClicked(const std::string& name) {
    if (clickHandler_) clickHandler_(SkinElement{name});
}

}  // namespace trimora
