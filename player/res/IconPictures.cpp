// Icons of the player drawn with QPainter on a transparent square. Coordinates are worked out
// on a 48-unit grid and scaled to the icon's size.
#include <QPainter>
#include <QPainterPath>

#include "Pictures.h"

namespace BrelsoRes {
namespace {

void DrawPlay(QPainter& p) {
    QPainterPath path;
    path.moveTo(15, 9);
    path.lineTo(39, 24);
    path.lineTo(15, 39);
    path.closeSubpath();
    p.drawPath(path);
}

void DrawPause(QPainter& p) {
    p.drawRoundedRect(QRectF(12, 9, 9, 30), 2, 2);
    p.drawRoundedRect(QRectF(27, 9, 9, 30), 2, 2);
}

void DrawStop(QPainter& p) {
    p.drawRoundedRect(QRectF(11, 11, 26, 26), 3, 3);
}

void DrawFastForward(QPainter& p) {
    for (int i = 0; i < 2; ++i) {
        const qreal x = 6 + i * 18;
        QPainterPath path;
        path.moveTo(x, 11);
        path.lineTo(x + 18, 24);
        path.lineTo(x, 37);
        path.closeSubpath();
        p.drawPath(path);
    }
}

void DrawCamera(QPainter& p, const QColor& clr) {
    QPainterPath body;
    body.addRoundedRect(QRectF(5, 14, 38, 26), 4, 4);
    body.addRect(QRectF(16, 9, 16, 6));
    p.drawPath(body.simplified());
    // The lens: a hole in the body with a smaller disc in it.
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawEllipse(QPointF(24, 27), 9, 9);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(clr);
    p.drawEllipse(QPointF(24, 27), 5.5, 5.5);
}

void DrawFilm(QPainter& p) {
    p.drawRoundedRect(QRectF(8, 6, 32, 36), 3, 3);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    for (int i = 0; i < 5; ++i) {
        p.drawRect(QRectF(10.5, 9 + i * 6.5, 4, 4));
        p.drawRect(QRectF(33.5, 9 + i * 6.5, 4, 4));
    }
    p.drawRect(QRectF(17, 10, 14, 12));
    p.drawRect(QRectF(17, 26, 14, 12));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void DrawSpeaker(QPainter& p, const QColor& clr, bool bOn) {
    QPainterPath path;
    path.moveTo(6, 18);
    path.lineTo(14, 18);
    path.lineTo(25, 8);
    path.lineTo(25, 40);
    path.lineTo(14, 30);
    path.lineTo(6, 30);
    path.closeSubpath();
    p.drawPath(path);
    p.setBrush(Qt::NoBrush);
    if (bOn) {
        p.setPen(QPen(clr, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(22, 15, 12, 18), -60 * 16, 120 * 16);
        p.drawArc(QRectF(20, 9, 22, 30), -60 * 16, 120 * 16);
    } else {
        p.setPen(QPen(QColor(220, 30, 30), 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(30, 17), QPointF(43, 31));
        p.drawLine(QPointF(43, 17), QPointF(30, 31));
    }
}

void DrawVideoCamera(QPainter& p) {
    p.drawRoundedRect(QRectF(3, 14, 30, 22), 4, 4);
    QPainterPath lens;
    lens.moveTo(33, 22);
    lens.lineTo(45, 14);
    lens.lineTo(45, 36);
    lens.lineTo(33, 28);
    lens.closeSubpath();
    p.drawPath(lens);
}

void DrawFolder(QPainter& p) {
    QPainterPath path;
    path.moveTo(3, 10);
    path.lineTo(18, 10);
    path.lineTo(22, 15);
    path.lineTo(45, 15);
    path.lineTo(45, 40);
    path.lineTo(3, 40);
    path.closeSubpath();
    p.drawPath(path);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawRect(QRectF(3, 20, 42, 3));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

}  // namespace

QImage DrawIcon(Glyph glyph, int nSize, const QColor& clr) {
    if (glyph == Glyph::Logo) {
        return DrawLogo(nSize).convertToFormat(QImage::Format_ARGB32);
    }
    QImage img(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(nSize / 48.0, nSize / 48.0);
    p.setPen(Qt::NoPen);
    p.setBrush(clr);
    switch (glyph) {
        case Glyph::Play:
            DrawPlay(p);
            break;
        case Glyph::Pause:
            DrawPause(p);
            break;
        case Glyph::Stop:
            DrawStop(p);
            break;
        case Glyph::FastForward:
            DrawFastForward(p);
            break;
        case Glyph::Camera:
            DrawCamera(p, clr);
            break;
        case Glyph::Film:
            DrawFilm(p);
            break;
        case Glyph::FilmRecording:
            DrawFilm(p);
            p.setBrush(QColor(20, 190, 60));
            p.setPen(QPen(Qt::white, 2));
            p.drawEllipse(QPointF(36, 36), 9, 9);
            break;
        case Glyph::SpeakerOn:
            DrawSpeaker(p, clr, true);
            break;
        case Glyph::SpeakerOff:
            DrawSpeaker(p, clr, false);
            break;
        case Glyph::VideoCamera:
            DrawVideoCamera(p);
            break;
        case Glyph::Folder:
            DrawFolder(p);
            break;
        case Glyph::Logo:
            break;
    }
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QImage DrawLogo(int nSize) {
    QImage img(nSize, nSize, QImage::Format_RGB32);
    img.fill(QColor(30, 30, 30));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(nSize / 128.0, nSize / 128.0);
    // Outer ring of the lens.
    QRadialGradient ring(QPointF(64, 64), 56);
    ring.setColorAt(0.0, QColor(40, 150, 240));
    ring.setColorAt(1.0, QColor(10, 70, 150));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(QPointF(64, 64), 54, 54);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(QPointF(64, 64), 42, 42);
    p.setBrush(QColor(235, 240, 245));
    p.drawEllipse(QPointF(64, 64), 36, 36);
    // The play mark in the middle.
    QPainterPath play;
    play.moveTo(52, 42);
    play.lineTo(86, 64);
    play.lineTo(52, 86);
    play.closeSubpath();
    p.setBrush(QColor(230, 90, 20));
    p.drawPath(play);
    // A small highlight on the ring.
    p.setBrush(QColor(255, 255, 255, 160));
    p.drawEllipse(QPointF(34, 34), 6, 6);
    p.end();
    return img;
}

}  // namespace BrelsoRes
