#pragma once
// The skin: a compiled Qt resource bundle (trimora.skn) holding a style sheet and its pictures.
// Skinning a window applies the style sheet to it and adds the skin's own "Help" element;
// skinning a control tags it with the element's name, which the style sheet's rules select
// ([skinElement="SLDTHUM"]). The skin's elements are the names its style sheet has rules for.
#include <QPointer>
#include <QString>
#include <set>
#include <string>
#include <vector>

#include "engine/Skin.h"

class QToolButton;

namespace trimora {

class QtSkin : public Skin {
public:
    // Where everything of a loaded skin lives, and the style sheet inside it.
    static constexpr const char* kResourceFolder = ":/skin";
    static constexpr const char* kStyleSheetPath = ":/skin/trimora.qss";
    // The dynamic property SkinControl sets, and the object name of the help element.
    static constexpr const char* kElementProperty = "skinElement";
    static constexpr const char* kHelpElement = "Help";

    QtSkin() = default;
    QtSkin(const QtSkin&) = delete;
    QtSkin& operator=(const QtSkin&) = delete;
    // Removes the help elements it added and unregisters the bundle.
    ~QtSkin() override;

    // Throws EngineError when the file is missing or is not a skin.
    void LoadSkinFile(const std::string& path) override;
    // Both do nothing while no skin is loaded, and never throw.
    void SkinWindow(QWidget* window) override;
    void SkinControl(QWidget* control, const std::string& element) override;
    // The handler runs on the UI thread inside Qt's event handling and must not throw.
    void SetElementClickHandler(std::function<void(const SkinElement&)> handler) override;

    bool IsLoaded() const { return !styleSheet_.isEmpty(); }
    const QString& StyleSheet() const { return styleSheet_; }
    const std::set<std::string>& Elements() const { return elements_; }

    // The element names a style sheet has rules for.
    static std::set<std::string> ElementsOf(const QString& styleSheet);

private:
    void Unload();
    void ElementClicked(const std::string& name);

    QString registeredPath_;
    QString styleSheet_;
    std::set<std::string> elements_;
    std::function<void(const SkinElement&)> clickHandler_;
    std::vector<QPointer<QToolButton>> helpButtons_;
};

}  // namespace trimora
