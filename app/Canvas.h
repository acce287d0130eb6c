// A drawing area that shows one backdrop picture at its top-left corner.
#pragma once

#include <QImage>
#include <QWidget>

class Canvas : public QWidget {
    Q_OBJECT

public:
    explicit Canvas(QWidget* parent = nullptr);

    /// The picture drawn at the top-left corner, at its own device pixel ratio; a null image
    /// shows nothing.
    void setBackdrop(const QImage& picture);
    const QImage& backdrop() const { return m_backdrop; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_backdrop;
};
