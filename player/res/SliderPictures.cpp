// Track, fill and knob pictures of the sliders. Drawn without antialiasing so that the key
// colour of the transparent pictures stays exact along their outline.
#include <QPainter>
#include <QPolygon>

#include "Pictures.h"

namespace BrelsoRes {

QImage DrawProgressTrack(bool bFilled) {
    // 8 x 14, the same in every column, so it repeats seamlessly along the slider.
    QImage img(8, 14, QImage::Format_RGB32);
    img.fill(QColor(70, 70, 70));
    QPainter p(&img);
    p.fillRect(0, 4, 8, 1, QColor(40, 40, 40));
    p.fillRect(0, 5, 8, 4, bFilled ? QColor(30, 144, 255) : QColor(130, 130, 130));
    p.fillRect(0, 9, 8, 1, bFilled ? QColor(20, 100, 190) : QColor(100, 100, 100));
    p.end();
    return img;
}

QImage DrawKnob(const QColor& clrFace) {
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(KeyColor());
    QPainter p(&img);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(clrFace);
    p.drawEllipse(0, 0, 9, 9);
    p.end();
    return img;
}

QImage DrawVolumeWedge(bool bFilled) {
    // A wedge rising to the right, 110 x 20, on the key colour.
    QImage img(110, 20, QImage::Format_RGB32);
    img.fill(KeyColor());
    QPainter p(&img);
    const QColor clr = bFilled ? QColor(40, 170, 70) : QColor(150, 150, 150);
    p.setPen(clr);
    p.setBrush(clr);
    p.drawPolygon(QPolygon({QPoint(1, 18), QPoint(108, 1), QPoint(108, 18)}));
    p.end();
    return img;
}

}  // namespace BrelsoRes
