// Off-screen drawing: everything drawn through a CMemDC lands in a pixmap that is copied to the
// destination painter in one step when the CMemDC is destroyed, so the screen never shows a
// half-drawn picture.
#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <optional>

class CMemDC {
public:
    // pTarget: the destination painter (not owned; must outlive this object).
    // pRect: the area to cover in the destination's coordinates; null for the whole clip area
    //        (or the whole device without a clip).
    // bCopyBackground: start from what is already on the destination (pixels left undrawn show
    //        the destination through); otherwise start from the destination's background colour.
    CMemDC(QPainter* pTarget, const QRect* pRect, bool bCopyBackground);
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    // The painter to draw with; it uses the destination's coordinates.
    QPainter* operator->() { return Painter(); }
    QPainter* Painter() { return m_bOffscreen ? &*m_painter : m_pTarget; }

    const QRect& Area() const { return m_rcArea; }
    bool IsOffscreen() const { return m_bOffscreen; }
    // The picture drawn so far (off-screen mode only).
    const QPixmap& Buffer() const { return m_bmpBuffer; }

private:
    QPixmap m_bmpBuffer;
    std::optional<QPainter> m_painter;
    QPainter* m_pTarget;
    QRect m_rcArea;
    bool m_bOffscreen = true;
};
