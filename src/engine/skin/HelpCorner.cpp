#include "engine/skin/HelpCorner.h"

#include <QEvent>

namespace trimora {

HelpCorner::HelpCorner(QWidget* window) : QToolButton(window) {
    setObjectName("Help");
    setText("?");
    setToolTip("Help (F1)");
    setAccessibleName("Help");
    setCursor(Qt::PointingHandCursor);
    // A mouse element of the skin, not a stop in the window's keyboard order.
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(kSize, kSize);
    window->installEventFilter(this);
    PlaceInCorner();
    show();
}

bool HelpCorner::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent()) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::LayoutRequest:
        case QEvent::ChildAdded:
            PlaceInCorner();
            break;
        default:
            break;
        }
    }
    return QToolButton::eventFilter(watched, event);
}

void HelpCorner::PlaceInCorner() {
    const QWidget* window = parentWidget();
    if (!window) return;
    move(window->width() - kSize - kMargin, kMargin);
    raise();
}

}  // namespace trimora
