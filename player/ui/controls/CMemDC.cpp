#include "CMemDC.h"

#include <QPaintDevice>

CMemDC::CMemDC(QPainter* pTarget, const QRect* pRect, bool bCopyBackground) : m_pTarget(pTarget) {
    QPaintDevice* pDevice = pTarget->device();
    if (pRect != nullptr) {
        m_rcArea = *pRect;
    } else if (pTarget->hasClipping()) {
        m_rcArea = pTarget->clipBoundingRect().toAlignedRect();
    } else {
        m_rcArea = QRect(0, 0, pDevice->width(), pDevice->height());
    }
    // A printer gets the drawing directly: it cannot be read back and needs no flicker guard.
    m_bOffscreen = pDevice->devType() != QInternal::Printer;
    if (!m_bOffscreen) {
        return;
    }
    const qreal dpr = pDevice->devicePixelRatioF();
    m_bmpBuffer = QPixmap(m_rcArea.size() * dpr);
    m_bmpBuffer.setDevicePixelRatio(dpr);
    if (bCopyBackground) {
        // Undrawn pixels stay see-through, so the final copy leaves what the destination
        // already shows there.
        m_bmpBuffer.fill(Qt::transparent);
    } else {
        m_bmpBuffer.fill(pTarget->background().color());
    }
    m_painter.emplace(&m_bmpBuffer);
    m_painter->translate(-m_rcArea.topLeft());
    m_painter->setBackground(pTarget->background());
    m_painter->setFont(pTarget->font());
}

CMemDC::~CMemDC() {
    if (!m_bOffscreen) {
        return;
    }
    m_painter->end();
    m_pTarget->drawPixmap(m_rcArea.topLeft(), m_bmpBuffer);
}
