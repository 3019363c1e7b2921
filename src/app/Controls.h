#pragma once
// Controls with the behaviour the window logic relies on: geometry in twips (15 per logical
// pixel) kept in single precision, captions kept exactly as set (a carriage return alone breaks a
// label's line), and picture boxes that report mouse events in twips.
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QStaticText>
#include <QPlainTextEdit>
#include <QSlider>
#include <QWidget>
#include <functional>
#include <vector>

namespace trimora {

inline constexpr double kTwipsPerPixel = 15.0;

// Moves/sizes a widget given twips.
void PlaceTwips(QWidget* widget, double left, double top, double width, double height);

// A drawing surface that can hold children and reports mouse down/move/up with X and Y in twips
// relative to its own top-left corner. Its geometry is kept in twips, single precision.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);
    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    void SetLeft(float left);
    void SetTop(float top);
    void SetWidth(float width);
    void SetGeometryTwips(float left, float top, float width, float height);
    void SetPicture(const QPixmap& picture);
    // The box paints its whole rectangle: the window's colour first where its skin leaves it
    // showing (rounded corners), then the skin. What moves over it (a thumb on its track) is
    // then repainted from the box alone, not from the frames and the window behind.
    void PaintOwnBackground();

signals:
    void KeyPressed(int key);
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Apply();
    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    QPixmap picture_;
    bool ownBackground_ = false;
};

// A plain strip in the window's colour under a control that moves or resizes many times a
// second (the region bar during a job): the place it leaves is repainted from the strip alone,
// not from the frames and the window behind.
class Backdrop : public QWidget {
    Q_OBJECT
public:
    explicit Backdrop(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A track bar holding an integer between Min and Max. Storing a value clamps it; storing a
// value that differs from the current one runs OnChange before the store returns (errors from
// the handler reach the code that stored the value).
class Slider : public QSlider {
    Q_OBJECT
public:
    explicit Slider(QWidget* parent = nullptr);
    int Value() const { return value_; }
    void SetValue(int value);
    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetMin(int min);
    void SetMax(int max);
    std::function<void()> OnChange;
    // Runs when something outside the program sets the track bar's value (a screen reader
    // through the accessibility interface); the value stays as it was unless the handler stores
    // one.
    std::function<void(int)> OnValueRequest;

private:
    void ShowStoredValue();
    int value_ = 1, min_ = 1, max_ = 100;
    bool storing_ = false;
};

// A label whose caption is kept exactly as set; a carriage return starts a new line on screen.
class SkinLabel : public QLabel {
    Q_OBJECT
public:
    explicit SkinLabel(const QString& caption = {}, QWidget* parent = nullptr);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    float Left() const { return left_; }
    void SetLeft(float left);
    // The label paints its whole rectangle in its background colour, so a new caption repaints
    // only the label and not the frames and window behind it (for captions that change many
    // times a second).
    void PaintOwnBackground();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool DrawsLinesItself() const;
    void DrawLines(QPainter& painter);

    QString caption_;
    float left_ = 0;
    bool ownBackground_ = false;
    std::vector<QStaticText> lineCache_;  // the laid out lines of the caption on screen
    QFont lineFont_;
};

// A several-line, read-only text box whose text is kept exactly as set (lines joined by CR LF).
class InfoBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit InfoBox(QWidget* parent = nullptr);
    QString Text() const { return text_; }
    void SetText(const QString& text);

private:
    QString text_;
};

// A straight line drawn on its container, end points in twips.
class LineControl : public QWidget {
    Q_OBJECT
public:
    explicit LineControl(QWidget* parent);
    float X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    void Redraw() { update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace trimora
