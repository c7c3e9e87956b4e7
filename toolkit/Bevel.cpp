#include "Bevel.h"

#include <QPainter>

namespace kp {

TBevel::TBevel(QWidget* parent) : QWidget(parent) {
    // Only lines are drawn; whatever lies behind shows between them, and clicks pass on.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::setShape(TBevelShape value) {
    shape_ = value;
    update();
}

void TBevel::setStyle(TBevelStyle value) {
    style_ = value;
    update();
}

void TBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    const QColor first = style_ == bsLowered ? shadow : light;
    const QColor second = style_ == bsLowered ? light : shadow;
    const int right = width() - 1;
    const int bottom = height() - 1;
    switch (shape_) {
    case bsBox:
        painter.setPen(first);
        painter.drawLine(0, 0, right, 0);
        painter.drawLine(0, 0, 0, bottom);
        painter.setPen(second);
        painter.drawLine(right, 0, right, bottom);
        painter.drawLine(0, bottom, right, bottom);
        break;
    case bsTopLine:
        painter.setPen(first);
        painter.drawLine(0, 0, right, 0);
        painter.setPen(second);
        painter.drawLine(0, 1, right, 1);
        break;
    case bsBottomLine:
        painter.setPen(first);
        painter.drawLine(0, bottom - 1, right, bottom - 1);
        painter.setPen(second);
        painter.drawLine(0, bottom, right, bottom);
        break;
    case bsLeftLine:
        painter.setPen(first);
        painter.drawLine(0, 0, 0, bottom);
        painter.setPen(second);
        painter.drawLine(1, 0, 1, bottom);
        break;
    case bsRightLine:
        painter.setPen(first);
        painter.drawLine(right - 1, 0, right - 1, bottom);
        painter.setPen(second);
        painter.drawLine(right, 0, right, bottom);
        break;
    }
}

} // namespace kp
