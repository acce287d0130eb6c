// A drawing area that shows one backdrop picture at its top-left corner, or a short message in
// its place.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class Canvas : public QWidget {
    Q_OBJECT

public:
    explicit Canvas(QWidget* parent = nullptr);

    /// The picture drawn at the top-left corner, at its own device pixel ratio; a null image
    /// shows nothing. Replaces any message. Assistive technology names the canvas "Code QR"
    /// while it shows one, and says there is none otherwise.
    void setBackdrop(const QImage& picture);
    const QImage& backdrop() const { return m_backdrop; }

    /// One line of text centred in the canvas, in its palette's text colour, instead of the
    /// picture, which it replaces; also the canvas's description for assistive technology.
    void setMessage(const QString& message);
    const QString& message() const { return m_message; }

signals:
    /// The canvas is now shown at another device pixel ratio than its picture was drawn for.
    /// Emitted once per change, from the event loop, never from inside a paint.
    void pixelRatioChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool drawnForAnotherRatio() const;
    void checkPixelRatio();

    QImage m_backdrop;
    QString m_message;
    bool m_ratioCheckQueued = false;
};
