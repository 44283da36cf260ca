#include "CBitmapSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "CMemDC.h"
#include "DlgCtrlId.h"
#include "PrivateMessage.h"
#include "ResourceTable.h"

CBitmapSlider::CBitmapSlider(QWidget* pParent) : QWidget(pParent) {
    setFocusPolicy(Qt::StrongFocus);
    // The slider covers its area itself; the parent's pixels show only through the
    // see-through parts of the pictures.
    setAttribute(Qt::WA_NoSystemBackground);
}

CBitmapSlider::~CBitmapSlider() {
    ReleaseTrack();
    ReleaseKnob();
}

void CBitmapSlider::ReleaseTrack() {
    m_bmpTrack = m_bmpTrackMask = QImage();
    m_bmpFill = m_bmpFillMask = QImage();
}

void CBitmapSlider::ReleaseKnob() {
    m_bmpKnob = m_bmpKnobMask = QImage();
    m_bmpKnobHot = m_bmpKnobHotMask = QImage();
    m_bmpKnobDisabled = m_bmpKnobDisabledMask = QImage();
    m_bmpUnderKnob = QImage();
}

QImage CBitmapSlider::MakeMask(QImage& picture) {
    picture = picture.convertToFormat(QImage::Format_RGB32);
    QImage mask(picture.size(), QImage::Format_Mono);
    mask.setColorCount(2);
    mask.setColor(0, qRgb(0, 0, 0));
    mask.setColor(1, qRgb(255, 255, 255));
    if (picture.isNull()) {
        return mask;
    }
    const QRgb key = picture.pixel(0, 0);
    for (int y = 0; y < picture.height(); ++y) {
        auto* pLine = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const bool bSeeThrough = pLine[x] == key;
            mask.setPixel(x, y, bSeeThrough ? 1 : 0);
            if (bSeeThrough) {
                pLine[x] = qRgb(0, 0, 0);
            }
        }
    }
    return mask;
}

void CBitmapSlider::DrawMasked(QPainter& dc, int x, int y, const QImage& picture,
                               const QImage& mask, int sx, int sy, int cx, int cy) {
    // Only the part that both pictures cover.
    cx = std::min({cx, picture.width() - sx, mask.width() - sx});
    cy = std::min({cy, picture.height() - sy, mask.height() - sy});
    if (cx <= 0 || cy <= 0 || sx < 0 || sy < 0) {
        return;
    }
    QImage part(cx, cy, QImage::Format_ARGB32);
    for (int j = 0; j < cy; ++j) {
        auto* pOut = reinterpret_cast<QRgb*>(part.scanLine(j));
        const auto* pIn = reinterpret_cast<const QRgb*>(picture.constScanLine(sy + j));
        for (int i = 0; i < cx; ++i) {
            pOut[i] = mask.pixelIndex(sx + i, sy + j) == 1 ? qRgba(0, 0, 0, 0)
                                                           : (pIn[sx + i] | 0xFF000000u);
        }
    }
    dc.drawImage(x, y, part);
}

bool CBitmapSlider::SetTrackBitmaps(int nTrackId, int nFillId, bool bTransparentTrack) {
    m_bmpTrack = BrelsoRes::LoadBitmapImage(nTrackId);
    if (m_bmpTrack.isNull()) {
        return false;
    }
    m_bmpTrackMask = bTransparentTrack ? MakeMask(m_bmpTrack) : QImage();
    m_bmpFill = BrelsoRes::LoadBitmapImage(nFillId);
    if (m_bmpFill.isNull()) {
        ReleaseTrack();
        return false;
    }
    m_bmpFillMask = bTransparentTrack ? MakeMask(m_bmpFill) : QImage();
    m_bFill = true;
    m_cxTrack = m_bmpTrack.width();
    m_cyTrack = m_bmpTrack.height();
    if (m_bFitLength) {
        resize(width(), m_bmpTrack.height());
        m_cxTrack = width();
    }
    m_rcClient = rect();
    m_bTransparentTrack = bTransparentTrack;
    m_bTrack = true;
    return true;
}

bool CBitmapSlider::SetKnobBitmaps() {
    m_bmpKnob = BrelsoRes::LoadBitmapImage(136);
    if (m_bmpKnob.isNull()) {
        return false;
    }
    m_bmpKnobMask = MakeMask(m_bmpKnob);
    m_bmpKnobHot = BrelsoRes::LoadBitmapImage(137);
    m_bmpKnobDisabled = BrelsoRes::LoadBitmapImage(138);
    if (m_bmpKnobHot.isNull() || m_bmpKnobDisabled.isNull()) {
        ReleaseKnob();
        return false;
    }
    m_bmpKnobHotMask = MakeMask(m_bmpKnobHot);
    m_bKnobHot = true;
    m_bmpKnobDisabledMask = MakeMask(m_bmpKnobDisabled);
    m_cxKnob = m_bmpKnob.width();
    m_cyKnob = m_bmpKnob.height();
    if (!m_bTrack) {
        m_rcClient = rect();
        m_cxTrack = m_rcClient.width();
        m_cyTrack = m_rcClient.height();
    }
    m_bTransparentKnob = true;
    m_bKnob = true;
    return true;
}

void CBitmapSlider::SetPosition(int nPosition) {
    m_nPosition = nPosition;
    if (m_nPosition > m_nRangeMax) {
        m_nPosition = m_nRangeMax;
    }
    if (m_nPosition < m_nRangeMin) {
        m_nPosition = m_nRangeMin;
    }
    update();
}

int CBitmapSlider::PosToPixel(int nPosition) const {
    const double dRange = static_cast<double>(m_nRangeMax) - m_nRangeMin;
    const double dSpan = static_cast<double>(m_cxTrack) - m_nMarginRight - m_cxKnob - m_nMarginLeft;
    // An empty range has only one place for the knob: the start of the track.
    const double dRatio = dRange > 0 ? (nPosition - static_cast<double>(m_nRangeMin)) / dRange : 0;
    return m_nMarginLeft + static_cast<int>(std::trunc(dRatio * dSpan)) + m_cxKnob / 2;
}

int CBitmapSlider::PixelToPos(int x) const {
    const double dSpan = static_cast<double>(m_cxTrack) - m_nMarginRight - m_nMarginLeft - m_cxKnob;
    // A track with no room to move the knob maps every pixel to the start of the range.
    if (dSpan <= 0) {
        return m_nRangeMin;
    }
    const double dRange = static_cast<double>(m_nRangeMax) - m_nRangeMin;
    const double d =
        (static_cast<double>(x) - m_cxKnob / 2 - m_nMarginLeft) / dSpan * dRange + m_nRangeMin;
    return static_cast<int>(std::trunc(d));
}

void CBitmapSlider::paintEvent(QPaintEvent*) {
    QPainter dc(this);
    dc.setBackground(palette().window());
    const QRect rcArea = m_rcClient.isEmpty() ? rect() : m_rcClient;
    CMemDC memDC(&dc, &rcArea, m_bTransparentTrack);
    if (m_bTrack) {
        DrawTrack(*memDC.Painter());
    }
    // The buffer starts from the screen's pixels at every paint, so nothing saved under the
    // knob needs to be put back.
    m_ptUnderKnob = QPoint(-1, -1);
    if (m_bKnob) {
        DrawKnob(*memDC.Painter());
    }
}

namespace {

// Draws columns [x0, x1) of an opaque picture, column x taken from x modulo its width.
void DrawRepeated(QPainter& dc, const QImage& picture, int x0, int x1, int cy) {
    const int w = picture.width();
    if (w <= 0) {
        return;
    }
    for (int x = std::max(x0, 0); x < x1;) {
        const int sx = x % w;
        const int n = std::min(w - sx, x1 - x);
        dc.drawImage(x, 0, picture, sx, 0, n, cy);
        x += n;
    }
}

}  // namespace

void CBitmapSlider::DrawTrack(QPainter& dc) {
    if (!m_bFill) {
        if (m_bTransparentTrack) {
            DrawMasked(dc, 0, 0, m_bmpTrack, m_bmpTrackMask, 0, 0, m_cxTrack, m_cyTrack);
        } else {
            DrawRepeated(dc, m_bmpTrack, 0, m_cxTrack, m_cyTrack);
        }
        return;
    }
    // At the range's minimum nothing is filled: no coloured tip at volume 0.
    const int k = m_nPosition <= m_nRangeMin
                      ? 0
                      : std::clamp(PosToPixel(m_nPosition), 0, std::max(m_cxTrack, 0));
    if (m_bTransparentTrack) {
        // Both pictures share one outline, so each is drawn with the other's mask.
        DrawMasked(dc, k, 0, m_bmpTrack, m_bmpFillMask, k, 0, m_cxTrack - k, m_cyTrack);
        DrawMasked(dc, 0, 0, m_bmpFill, m_bmpTrackMask, 0, 0, k, m_cyTrack);
    } else {
        DrawRepeated(dc, m_bmpTrack, k, m_cxTrack, m_cyTrack);
        DrawRepeated(dc, m_bmpFill, 0, k, m_cyTrack);
    }
}

void CBitmapSlider::DrawKnob(QPainter& dc) {
    const int x = PosToPixel(m_nPosition) - m_cxKnob / 2;
    const int y = m_nMarginTop;
    if (m_bTransparentTrack || !m_bTrack) {
        m_ptUnderKnob = QPoint(x, y);
    }
    const bool bHot = m_bKnobHot && m_bDragging;
    const QImage& picture = bHot ? m_bmpKnobHot : m_bmpKnob;
    const QImage& mask = bHot ? m_bmpKnobHotMask : m_bmpKnobMask;
    DrawMasked(dc, x, y, picture, mask, 0, 0, m_cxKnob, m_cyKnob);
}

void CBitmapSlider::NotifyParent(int nMsg, bool bSend) {
    QWidget* pParent = parentWidget();
    const auto wParam = static_cast<uintptr_t>(GetDlgCtrlID(this));
    if (bSend) {
        SendPrivateMessage(pParent, nMsg, wParam, m_nPosition);
    } else {
        PostPrivateMessage(pParent, nMsg, wParam, m_nPosition);
    }
}

void CBitmapSlider::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(pEvent);
        return;
    }
    // The pointer stays with the slider until the button is released (implicit grab).
    setFocus(Qt::MouseFocusReason);
    m_bDragging = true;
    const int x = pEvent->position().toPoint().x();
    const int d = x - PosToPixel(m_nPosition);
    // Far from the knob it jumps to the pointer; on the knob it keeps its grip.
    m_nGrabOffset = std::abs(d) > m_cxKnob / 2 ? 0 : d;
    DragTo(x);
    update();
    pEvent->accept();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* pEvent) {
    if (!m_bDragging) {
        return;
    }
    DragTo(pEvent->position().toPoint().x());
    pEvent->accept();
}

void CBitmapSlider::DragTo(int x) {
    int nCentre = x - m_nGrabOffset;
    nCentre = std::max(nCentre, m_nMarginLeft + m_cxKnob / 2);
    nCentre = std::min(nCentre, m_cxTrack - m_nMarginRight - m_cxKnob / 2);
    if (nCentre == PosToPixel(m_nPosition)) {
        return;
    }
    m_nPosition = std::max(std::min(PixelToPos(nCentre), m_nRangeMax), m_nRangeMin);
    update();
    NotifyParent(MSG_SLIDER_MOVING, false);
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(pEvent);
        return;
    }
    m_bDragging = false;
    update();
    NotifyParent(MSG_SLIDER_MOVED, true);
    pEvent->accept();
}

void CBitmapSlider::keyPressEvent(QKeyEvent* pEvent) {
    int nNew = 0;
    switch (pEvent->key()) {
        case Qt::Key_PageUp:
            nNew = m_nPosition - m_nPageStep;
            break;
        case Qt::Key_PageDown:
            nNew = m_nPosition + m_nPageStep;
            break;
        case Qt::Key_End:
            nNew = m_nRangeMax;
            break;
        case Qt::Key_Home:
            nNew = m_nRangeMin;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            nNew = m_nPosition - 1;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            nNew = m_nPosition + 1;
            break;
        default:
            QWidget::keyPressEvent(pEvent);
            return;
    }
    SetPosition(nNew);
    NotifyParent(MSG_SLIDER_MOVED, false);
    pEvent->accept();
}

void CBitmapSlider::focusInEvent(QFocusEvent* pEvent) {
    QWidget::focusInEvent(pEvent);
    update();
}

void CBitmapSlider::focusOutEvent(QFocusEvent* pEvent) {
    QWidget::focusOutEvent(pEvent);
    update();
}
