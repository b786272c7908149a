#pragma once

#include <QColor>
#include <QWidget>

namespace lumacast {

// A flat strip that paints its whole face in its own colour, whatever style
// or palette is active, so the device's state shows unaltered. With the
// keyboard focus it draws a dotted mark on its edge; the rest of the face
// keeps the colour.
class IndicatorStrip : public QWidget {
    Q_OBJECT
public:
    explicit IndicatorStrip(QWidget *parent = nullptr);

    QColor Color() const { return color_; }
    // Repaints only when the colour changes.
    void SetColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor color_;
};

} // namespace lumacast
