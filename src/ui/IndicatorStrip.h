#pragma once

#include <QColor>
#include <QWidget>

namespace lumacast {

// A flat strip that paints its whole face in its own colour, whatever style
// or palette is active, so the device's state shows unaltered. With the
// keyboard focus it draws a dotted mark on its edge; the rest of the face
// keeps the colour.
class TIndicatorStrip : public QWidget {
    Q_OBJECT
public:
    explicit TIndicatorStrip(QWidget *parent = nullptr);

    QColor color() const { return color_; }
    // Repaints only when the colour changes.
    void setColor(const QColor &color);

    // The strip's name for a screen reader while it shows and while it is hidden.
    void setStateTexts(const QString &shown, const QString &hidden);

    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void describe();

    QColor color_;
    QString shownText_;
    QString hiddenText_;
};

} // namespace lumacast
