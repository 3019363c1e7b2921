#pragma once
// The skinning component: paints windows and single controls from the skin file and reports
// clicks on the skin's own elements.
#include <functional>
#include <string>

class QWidget;

namespace trimora {

struct SkinElement {
    std::string name;
};

class Skin {
public:
    virtual ~Skin() = default;
    virtual void LoadSkinFile(const std::string& path) = 0;
    virtual void SkinWindow(QWidget* window) = 0;
    virtual void SkinControl(QWidget* control, const std::string& element) = 0;
    // Called with the element when the user clicks one of the skin's own elements.
    virtual void SetElementClickHandler(std::function<void(const SkinElement&)> handler) = 0;
};

}  // namespace trimora
