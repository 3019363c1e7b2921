#include "app/Controls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <QPainter>
#include <QStaticText>
#include <QStyleOption>
#include <cmath>

namespace trimora {

namespace {
int ToPixels(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

int ShiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers & Qt::ShiftModifier) shift |= 1;
    if (modifiers & Qt::ControlModifier) shift |= 2;
    if (modifiers & Qt::AltModifier) shift |= 4;
    return shift;
}

int ButtonState(Qt::MouseButtons buttons) {
    int state = 0;
    if (buttons & Qt::LeftButton) state |= 1;
    if (buttons & Qt::RightButton) state |= 2;
    if (buttons & Qt::MiddleButton) state |= 4;
    return state;
}

QString ForDisplay(QString text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}
// The colour the window shows behind its transparent frames (the skin gives the window a plain
// colour).
QColor WindowColour(const QWidget& widget) { return widget.window()->palette().color(QPalette::Window); }

}  // namespace

void PlaceTwips(QWidget* widget, double left, double top, double width, double height) {
    widget->setGeometry(ToPixels(left), ToPixels(top), std::max(0, ToPixels(width)), std::max(0, ToPixels(height)));
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_StyledBackground, true);
}

void PictureBox::SetLeft(float left) {
    left_ = left;
    Apply();
}
void PictureBox::SetTop(float top) {
    top_ = top;
    Apply();
}
void PictureBox::SetWidth(float width) {
    width_ = width;
    Apply();
}
void PictureBox::SetGeometryTwips(float left, float top, float width, float height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Apply();
}
void PictureBox::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
}
void PictureBox::Apply() { PlaceTwips(this, left_, top_, width_, height_); }

void PictureBox::mousePressEvent(QMouseEvent* event) {
    const QPointF p = event->position() * kTwipsPerPixel;
    emit MouseDown(ButtonState(event->button()), ShiftState(event->modifiers()), static_cast<float>(p.x()),
                   static_cast<float>(p.y()));
}
void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position() * kTwipsPerPixel;
    emit MouseMove(ButtonState(event->buttons()), ShiftState(event->modifiers()), static_cast<float>(p.x()),
                   static_cast<float>(p.y()));
}
void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = event->position() * kTwipsPerPixel;
    emit MouseUp(ButtonState(event->button()), ShiftState(event->modifiers()), static_cast<float>(p.x()),
                 static_cast<float>(p.y()));
}
void PictureBox::keyPressEvent(QKeyEvent* event) {
    emit KeyPressed(event->key());
    QWidget::keyPressEvent(event);
}
void PictureBox::PaintOwnBackground() {
    ownBackground_ = true;
    setAttribute(Qt::WA_OpaquePaintEvent);
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!ownBackground_ && picture_.isNull()) return;
    QPainter painter(this);
    if (ownBackground_) {
        // Polishing with a skin whose border has round corners takes the attribute away again;
        // the next paints are the box's alone.
        if (!testAttribute(Qt::WA_OpaquePaintEvent)) setAttribute(Qt::WA_OpaquePaintEvent);
        // Qt leaves an opaque widget's styled background to the widget.
        painter.fillRect(rect(), WindowColour(*this));
        QStyleOption option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    }
    if (!picture_.isNull()) painter.drawPixmap(rect(), picture_);
}

Backdrop::Backdrop(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void Backdrop::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), WindowColour(*this));
}

Slider::Slider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    ShowStoredValue();
    connect(this, &QAbstractSlider::valueChanged, this, [this](int value) {
        if (storing_ || value == value_) return;
        if (OnValueRequest) OnValueRequest(value);
        ShowStoredValue();
    });
}

void Slider::ShowStoredValue() {
    storing_ = true;
    setRange(min_, max_);
    setValue(value_);
    storing_ = false;
}

void Slider::SetValue(int value) {
    value = std::clamp(value, min_, max_);
    if (value == value_) return;
    value_ = value;
    ShowStoredValue();
    if (OnChange) OnChange();
}

void Slider::SetMin(int min) {
    min_ = min;
    if (max_ < min_) max_ = min_;
    ShowStoredValue();
    SetValue(value_);
}

void Slider::SetMax(int max) {
    max_ = max;
    if (min_ > max_) min_ = max_;
    ShowStoredValue();
    SetValue(value_);
}

SkinLabel::SkinLabel(const QString& caption, QWidget* parent) : QLabel(parent) { SetCaption(caption); }

void SkinLabel::SetCaption(const QString& caption) {
    caption_ = caption;
    setText(ForDisplay(caption));
}
void SkinLabel::SetLeft(float left) {
    left_ = left;
    move(ToPixels(left), y());
}

void SkinLabel::PaintOwnBackground() {
    ownBackground_ = true;
    setAttribute(Qt::WA_OpaquePaintEvent);
    update();
}

bool SkinLabel::DrawsLinesItself() const {
    // The common case of a caption rewritten many times a second: plain text from the top left,
    // nothing else in the label.
    return ownBackground_ && textFormat() != Qt::RichText && !wordWrap() && alignment() == (Qt::AlignLeft | Qt::AlignTop) &&
           indent() <= 0 && margin() == 0 && frameShape() == QFrame::NoFrame && layoutDirection() == Qt::LeftToRight &&
           pixmap().isNull();
}

void SkinLabel::paintEvent(QPaintEvent* event) {
    if (!ownBackground_) {
        QLabel::paintEvent(event);
        return;
    }
    // The style sheet's background colour where the skin gives one, the palette's otherwise.
    QPainter painter(this);
    painter.fillRect(rect(), palette().brush(backgroundRole()));
    if (!DrawsLinesItself()) {
        painter.end();
        QLabel::paintEvent(event);
        return;
    }
    DrawLines(painter);
}

void SkinLabel::DrawLines(QPainter& painter) {
    // Where QLabel would put them: each line on a whole pixel, one font leading below the end of
    // the line before. Each line's layout is kept until its text changes, so a caption of which
    // one line changes lays out only that line again.
    const QStringList lines = text().split('\n');
    if (lineCache_.size() != static_cast<size_t>(lines.size()) || lineFont_ != font()) {
        lineCache_.assign(static_cast<size_t>(lines.size()), QStaticText());
        lineFont_ = font();
    }
    const QFontMetricsF metrics(font());
    const QRect area = contentsRect();
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.setClipRect(area);
    qreal top = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStaticText& line = lineCache_[static_cast<size_t>(i)];
        if (line.text() != lines[i]) {
            line.setText(lines[i]);
            line.setTextFormat(Qt::PlainText);
            line.prepare(QTransform(), font());
        }
        top = std::ceil(top + metrics.leading());
        if (area.top() + top > area.bottom()) break;
        painter.drawStaticText(QPointF(area.left(), area.top() + top), line);
        top += metrics.ascent() + metrics.descent();
    }
}

InfoBox::InfoBox(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
}
void InfoBox::SetText(const QString& text) {
    text_ = text;
    // Values line up one tab stop after the widest label, whatever the language.
    int widest = 0;
    for (const QString& line : ForDisplay(text).split('\n'))
        widest = std::max(widest, fontMetrics().horizontalAdvance(line.section('\t', 0, 0)));
    setTabStopDistance(widest + fontMetrics().horizontalAdvance("  "));
    setPlainText(ForDisplay(text));
}

LineControl::LineControl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (parent) setGeometry(parent->rect());
}
void LineControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
    painter.drawLine(QPointF(X1, Y1) / kTwipsPerPixel, QPointF(X2, Y2) / kTwipsPerPixel);
}

}  // namespace trimora
