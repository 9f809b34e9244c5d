// Controls that draw themselves: their Paint runs through QPainter at the screen's pixel ratio.
#pragma once

#include "platform/vcl/Controls.h"

#include <QWidget>

namespace torvoqt {

class PaintedWidget : public QWidget {
public:
    PaintedWidget(vcl::TControl* control, QWidget* parent);
    vcl::TControl* control;  // cleared when the control goes

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent*) override { update(); }
    void focusOutEvent(QFocusEvent*) override { update(); }
};

}  // namespace torvoqt
