#include "ui/IndicatorStrip.h"

#include <QPainter>

namespace lumacast {

TIndicatorStrip::TIndicatorStrip(QWidget *parent) : QWidget(parent), color_(255, 255, 0)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TIndicatorStrip::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TIndicatorStrip::setStateTexts(const QString &shown, const QString &hidden)
{
    shownText_ = shown;
    hiddenText_ = hidden;
    describe();
}

void TIndicatorStrip::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    describe();
}

void TIndicatorStrip::describe()
{
    const QString &text = isHidden() ? hiddenText_ : shownText_;
    if (accessibleName() != text)
        setAccessibleName(text);
}

void TIndicatorStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), color_);
    if (hasFocus()) {
        // Black reads on every face colour the strip shows (all are bright).
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace lumacast
