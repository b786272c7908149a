#include "ui/IndicatorStrip.h"

#include <QPainter>

namespace lumacast {

IndicatorStrip::IndicatorStrip(QWidget *parent) : QWidget(parent), color_(255, 255, 0)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void IndicatorStrip::SetColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void IndicatorStrip::paintEvent(QPaintEvent *)
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
