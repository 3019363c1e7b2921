#pragma once
// The skin's "Help" element: a small round "?" button that keeps itself in the top-right corner
// of its window, above the window's own controls.
#include <QToolButton>

namespace trimora {

class HelpCorner : public QToolButton {
    Q_OBJECT

public:
    static constexpr int kSize = 18;
    static constexpr int kMargin = 3;

    explicit HelpCorner(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceInCorner();
};

}  // namespace trimora
