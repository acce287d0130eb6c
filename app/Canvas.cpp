// The canvas that shows the pairing code.
#include "app/Canvas.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QPainter>
#include <QTimer>

namespace {

// Assistive technology meets the canvas as the picture it shows, not as an empty pane.
QAccessibleInterface* accessibleCanvas(const QString& className, QObject* object) {
    auto* canvas = qobject_cast<Canvas*>(object);
    if (!canvas || className != QLatin1String("Canvas"))
        return nullptr;
    return new QAccessibleWidget(canvas, QAccessible::Graphic);
}

// What assistive technology calls the canvas while it shows no code.
const QString kNoCode = QStringLiteral("Aucun code QR");

} // namespace

Canvas::Canvas(QWidget* parent)
    : QWidget(parent) {
    static const bool accessible = [] {
        QAccessible::installFactory(&accessibleCanvas);
        return true;
    }();
    Q_UNUSED(accessible)
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(kNoCode);
    setAccessibleDescription(QStringLiteral("Aucun code n'est affiché."));
}

void Canvas::setBackdrop(const QImage& picture) {
    m_backdrop = picture;
    m_message.clear();
    setAccessibleName(picture.isNull() ? kNoCode : QStringLiteral("Code QR"));
    update();
}

void Canvas::setMessage(const QString& message) {
    m_message = message;
    m_backdrop = QImage();
    setAccessibleName(kNoCode);
    setAccessibleDescription(message);
    update();
}

bool Canvas::event(QEvent* event) {
    // A move to another screen; a change of scale on the same screen is caught when painting.
    if (event->type() == QEvent::ScreenChangeInternal)
        checkPixelRatio();
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    if (event->type() == QEvent::DevicePixelRatioChange)
        checkPixelRatio();
#endif
    return QWidget::event(event);
}

void Canvas::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (!m_message.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    if (m_backdrop.isNull())
        return;
    checkPixelRatio();
    // Modules must stay crisp squares for a phone camera: never smooth them.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPointF(0, 0), m_backdrop);
}

bool Canvas::drawnForAnotherRatio() const {
    return !m_backdrop.isNull() &&
           !qFuzzyCompare(m_backdrop.devicePixelRatio(), devicePixelRatioF());
}

void Canvas::checkPixelRatio() {
    if (m_ratioCheckQueued || !drawnForAnotherRatio())
        return;
    m_ratioCheckQueued = true;
    // Queued: the picture is replaced and the canvas moved outside any paint in progress, and
    // several notices of one change make one redraw.
    QTimer::singleShot(0, this, [this] {
        m_ratioCheckQueued = false;
        if (drawnForAnotherRatio())
            emit pixelRatioChanged();
    });
}
