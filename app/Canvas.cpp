// The canvas that shows the pairing code.
#include "app/Canvas.h"

#include <QPainter>

Canvas::Canvas(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void Canvas::setBackdrop(const QImage& picture) {
    m_backdrop = picture;
    update();
}

void Canvas::paintEvent(QPaintEvent* /*event*/) {
    if (m_backdrop.isNull())
        return;
    QPainter painter(this);
    // Modules must stay crisp squares for a phone camera: never smooth them.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPointF(0, 0), m_backdrop);
}
