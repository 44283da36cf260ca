#include "CButtonST.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include "ResourceTable.h"

CButtonST::CButtonST(QWidget* pParent) : QPushButton(pParent) {
    // Every repaint goes through the drawing steps below; the style draws nothing.
    setMouseTracking(true);
    setAutoDefault(false);
    setFlat(true);
    ResetColors();
}

CButtonST::~CButtonST() = default;

bool CButtonST::HasIcon(int nEntry) const {
    return nEntry >= 0 && nEntry < 2 && !m_icons[nEntry].pixmap.isNull();
}

void CButtonST::ReleaseIcons() {
    for (IconEntry& e : m_icons) {
        e = IconEntry{};
    }
}

void CButtonST::SetIcons(const QPixmap& hot, const QPixmap& rest) {
    ReleaseIcons();
    if (hot.isNull()) {
        update();
        return;
    }
    m_icons[0] = {hot, hot.width(), hot.height()};
    if (!rest.isNull()) {
        m_icons[1] = {rest, rest.width(), rest.height()};
    }
    update();
}

void CButtonST::SetIcons(int nHotId, int nRestId) {
    const QImage hot = BrelsoRes::LoadIconImage(nHotId);
    const QImage rest = nRestId != 0 ? BrelsoRes::LoadIconImage(nRestId) : QImage();
    SetIcons(QPixmap::fromImage(hot), QPixmap::fromImage(rest));
}

void CButtonST::SetColor(int nIndex, const QColor& clr) {
    if (nIndex < 0 || nIndex >= BTN_COLOR_COUNT) {
        return;
    }
    m_colors[nIndex] = clr;
    update();
}

QColor CButtonST::GetColor(int nIndex) const {
    return nIndex >= 0 && nIndex < BTN_COLOR_COUNT ? m_colors[nIndex] : QColor();
}

void CButtonST::SetBorder(bool bBorder) {
    m_bBorder = bBorder;
    update();
}

void CButtonST::SetTransparent() {
    m_bTransparent = true;
    m_dcBack = QPixmap();
    update();
}

void CButtonST::SetDefault(bool bDefault) {
    m_bDefault = bDefault;
    setDefault(bDefault);
}

void CButtonST::ResetColors() {
    const QPalette pal = QApplication::palette();
    const QColor bk = pal.color(QPalette::Button);
    const QColor fg = pal.color(QPalette::ButtonText);
    m_colors = {bk, fg, bk, fg, bk, fg};
    m_clrSysFace = bk;
    m_clrSysText = fg;
}

int CButtonST::StateBackgroundIndex() const {
    if (m_bMouseIn || m_bPressed) {
        return BTN_BK_HOT;
    }
    return m_bFocused ? BTN_BK_FOCUS : BTN_BK_NORMAL;
}

void CButtonST::paintEvent(QPaintEvent*) {
    m_bPressed = isDown();
    m_bFocused = hasFocus();
    QPainter dc(this);
    dc.setBackgroundMode(Qt::TransparentMode);
    const QRect rcItem = rect();

    if (m_bTransparent) {
        QWidget* pParent = parentWidget();
        if (m_dcBack.isNull() && pParent != nullptr) {
            // The parent's own pixels under the button, without its other children; taken
            // once and kept.
            m_dcBack = QPixmap(size());
            m_dcBack.fill(pParent->palette().color(pParent->backgroundRole()));
            pParent->render(&m_dcBack, QPoint(), QRegion(geometry()),
                            QWidget::DrawWindowBackground);
        }
        dc.drawPixmap(0, 0, m_dcBack);
    } else {
        PaintBackground(dc, rcItem);
    }
    PaintBorder(dc, rcItem);

    const QString strText = text();
    QRect rcText = rcItem;
    if (!m_icons[0].pixmap.isNull()) {
        PaintIcon(dc, !strText.isEmpty(), rcItem, rcText, m_bPressed);
    }
    if (!strText.isEmpty()) {
        PaintCaption(dc, strText, rcItem, rcText, m_bPressed);
    }
}

void CButtonST::PaintBackground(QPainter& dc, const QRect& rc) {
    dc.fillRect(rc, m_colors[StateBackgroundIndex()]);
}

void CButtonST::PaintBorder(QPainter& dc, const QRect& rc) {
    if (!m_bBorder || !(m_bPressed || m_bMouseIn)) {
        return;
    }
    const QPalette pal = QApplication::palette();
    const QColor clrHighlight = pal.color(QPalette::Light);
    const QColor clrShadow = pal.color(QPalette::Dark);
    // Pressed: sunken (shadow at top and left); pointer over: raised (highlight there).
    const QColor clrTopLeft = m_bPressed ? clrShadow : clrHighlight;
    const QColor clrBottomRight = m_bPressed ? clrHighlight : clrShadow;
    dc.fillRect(QRect(rc.left(), rc.top(), rc.width(), 1), clrTopLeft);
    dc.fillRect(QRect(rc.left(), rc.top(), 1, rc.height()), clrTopLeft);
    dc.fillRect(QRect(rc.left(), rc.bottom(), rc.width(), 1), clrBottomRight);
    dc.fillRect(QRect(rc.right(), rc.top(), 1, rc.height()), clrBottomRight);
}

void CButtonST::PaintIcon(QPainter& dc, bool bHasText, const QRect& rcItem, QRect& rcText,
                          bool bPressed) {
    const bool bHot = bPressed || m_bMouseIn;
    const IconEntry& icon = (bHot || m_icons[1].pixmap.isNull()) ? m_icons[0] : m_icons[1];
    int x = 0;
    if (bHasText) {
        x = rcItem.left() + m_iconMargin.x();
        rcText.setLeft(rcText.left() + icon.nWidth + m_iconMargin.x());
    } else {
        x = rcItem.left() + (rcItem.width() - icon.nWidth) / 2;
    }
    int y = rcItem.top() + (rcItem.height() - icon.nHeight) / 2;
    if (bPressed) {
        x += m_pressShift.x();
        y += m_pressShift.y();
    }
    dc.drawPixmap(x, y, icon.nWidth, icon.nHeight, icon.pixmap);
}

void CButtonST::PaintCaption(QPainter& dc, const QString& strText, const QRect&,
                             const QRect& rcText, bool bPressed) {
    QRect rc = rcText;
    if (bPressed) {
        rc.translate(m_pressShift);
    }
    // The wrapped block, centred in the text rectangle both ways.
    const int nFlags = Qt::AlignCenter | Qt::TextWordWrap;
    QRect rcBlock = dc.boundingRect(rc, nFlags, strText);
    rcBlock.moveCenter(rc.center());
    int nFg = BTN_FG_NORMAL;
    if (m_bMouseIn || m_bPressed) {
        nFg = BTN_FG_HOT;
    } else if (m_bFocused) {
        nFg = BTN_FG_FOCUS;
    }
    dc.setPen(m_colors[nFg]);
    dc.setBackground(m_colors[nFg - 1]);
    dc.drawText(rcBlock, nFlags, strText);
}

void CButtonST::mouseMoveEvent(QMouseEvent* pEvent) {
    QPushButton::mouseMoveEvent(pEvent);
    // Dragging onto the button with the left button held does not light it.
    if ((pEvent->buttons() & Qt::LeftButton) && !m_bMouseIn) {
        return;
    }
    if (rect().contains(pEvent->position().toPoint())) {
        if (!m_bMouseIn) {
            m_bMouseIn = true;
            update();
        }
    } else {
        CancelHover();
    }
}

void CButtonST::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
    }
    QPushButton::mousePressEvent(pEvent);
}

void CButtonST::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    // A double click acts as a second click.
    mousePressEvent(pEvent);
}

void CButtonST::leaveEvent(QEvent* pEvent) {
    QPushButton::leaveEvent(pEvent);
    CancelHover();
}

void CButtonST::focusOutEvent(QFocusEvent* pEvent) {
    QPushButton::focusOutEvent(pEvent);
    CancelHover();
}

void CButtonST::changeEvent(QEvent* pEvent) {
    QPushButton::changeEvent(pEvent);
    switch (pEvent->type()) {
        case QEvent::ActivationChange:
            if (!isActiveWindow()) {
                CancelHover();
            }
            break;
        case QEvent::PaletteChange:
        case QEvent::ApplicationPaletteChange:
        case QEvent::ThemeChange: {
            // New system colours: the cached background and every colour set so far go. A
            // palette change of a parent alone is not a change of the system colours.
            const QPalette pal = QApplication::palette();
            if (pal.color(QPalette::Button) != m_clrSysFace ||
                pal.color(QPalette::ButtonText) != m_clrSysText) {
                m_dcBack = QPixmap();
                ResetColors();
                update();
            }
            break;
        }
        default:
            break;
    }
}

void CButtonST::CancelHover() {
    if (m_bMouseIn) {
        m_bMouseIn = false;
        update();
    }
}
