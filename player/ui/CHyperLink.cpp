#include "CHyperLink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QUrl>

#include "MessageBox.h"

namespace {

// Result codes of the opener: above 32 success; 31 no program handles the address.
constexpr int kOpenSucceeded = 42;
constexpr int kNoAssociation = 31;

int OpenWithDesktop(const QString& strTarget) {
    const QUrl url = QUrl::fromUserInput(strTarget);
    if (!url.isValid()) {
        return 2;
    }
    return QDesktopServices::openUrl(url) ? kOpenSucceeded : kNoAssociation;
}

}  // namespace

CHyperLink::CHyperLink(QWidget* pParent)
    : QLabel(pParent),
      m_clrHover(QApplication::palette().color(QPalette::Highlight)),
      m_fnOpener(&OpenWithDesktop) {
    setMargin(0);
    setIndent(0);
    setContentsMargins(0, 0, 0, 0);
    // A static text's own alignment: left and top.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ApplyColor();
}

CHyperLink::~CHyperLink() = default;

void CHyperLink::Attach() {
    // Clicks and moves reach the control; its target defaults to its text and back.
    setMouseTracking(true);
    if (m_strTarget.isEmpty()) {
        m_strTarget = text();
    }
    if (text().isEmpty()) {
        setText(m_strTarget);
    }
    m_fontLink = font();
    m_fontLink.setUnderline(m_bUnderlined);
    setFont(m_fontLink);
    FitToText();
    if (!m_hHandCursor) {
        m_hHandCursor = QCursor(Qt::PointingHandCursor);
        setCursor(*m_hHandCursor);
    }
    setToolTip(m_strTarget);
    m_bAttached = true;
    ApplyColor();
}

void CHyperLink::SetTarget(const QString& strTarget) {
    m_strTarget = strTarget;
    if (m_bAttached) {
        FitToText();
        setToolTip(m_strTarget);
    }
}

void CHyperLink::SetUnderlined(bool bUnderlined) {
    m_bUnderlined = bUnderlined;
    if (m_bAttached) {
        m_fontLink = font();
        m_fontLink.setUnderline(bUnderlined);
        setFont(m_fontLink);
        update();
    }
}

void CHyperLink::SetOpener(Opener fnOpener) {
    m_fnOpener = std::move(fnOpener);
}

void CHyperLink::FitToText() {
    if (!m_bFitToText) {
        return;
    }
    QRect rc = geometry();
    const QFontMetrics fm(m_fontLink);
    const int cxText = fm.horizontalAdvance(text());
    const int cyText = fm.height();
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int d = (rc.height() - cyText) / 2;
        rc.adjust(0, d, 0, -d);
    } else {
        rc.setBottom(rc.top() + cyText - 1);
    }
    if (align & Qt::AlignHCenter) {
        const int d = (rc.width() - cxText) / 2;
        rc.adjust(d, 0, -d, 0);
    } else if (align & Qt::AlignRight) {
        rc.setLeft(rc.right() - cxText + 1);
    } else {
        rc.setRight(rc.left() + cxText - 1);
    }
    setGeometry(rc);
}

QColor CHyperLink::CurrentColor() const {
    if (m_bHover) {
        return m_clrHover;
    }
    return m_bOpened ? m_clrVisited : m_clrLink;
}

void CHyperLink::ApplyColor() {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, CurrentColor());
    setPalette(pal);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* pEvent) {
    QLabel::mouseMoveEvent(pEvent);
    if (!m_bHover) {
        m_bHover = true;
        ApplyColor();
        repaint();
        // Moves keep coming after the pointer leaves, so the control sees it go.
        grabMouse();
    } else if (!rect().contains(pEvent->position().toPoint())) {
        m_bHover = false;
        releaseMouse();
        ApplyColor();
        repaint();
    }
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* pEvent) {
    QLabel::mouseReleaseEvent(pEvent);
    if (pEvent->button() == Qt::LeftButton && rect().contains(pEvent->position().toPoint())) {
        OpenLink();
    }
}

void CHyperLink::OpenLink() {
    const int nResult = m_fnOpener ? m_fnOpener(m_strTarget) : kNoAssociation;
    if (nResult > 32) {
        m_bOpened = true;
        ApplyColor();
        update();
    } else {
        m_bOpened = false;
        ApplyColor();
        QApplication::beep();
        ReportError(nResult);
    }
}

QString CHyperLink::ErrorText(int nCode) {
    switch (nCode) {
        case 0:
            return QStringLiteral("The operating system is out\nof memory or resources.");
        case 2:
            return QStringLiteral("The specified file was not found.");
        case 3:
            return QStringLiteral("The specified path was not found.");
        case 5:
            return QStringLiteral("The operating system denied\naccess to the specified file.");
        case 8:
            return QStringLiteral("There was not enough memory to complete the operation.");
        case 11:
            return QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case 26:
            return QStringLiteral("A sharing violation occurred. ");
        case 27:
            return QStringLiteral("The filename association is\nincomplete or invalid.");
        case 28:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
        case 29:
            return QStringLiteral("The DDE transaction failed.");
        case 30:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE "
                "transactions\nwere being processed.");
        case 31:
            return QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
        case 32:
            return QStringLiteral("The specified dynamic-link library was not found.");
        default:
            return QStringLiteral("Unknown Error (%1) occurred.").arg(nCode);
    }
}

QString CHyperLink::ErrorMessage(int nCode) {
    return QStringLiteral("Unable to open hyperlink:\n\n") + ErrorText(nCode);
}

void CHyperLink::ReportError(int nCode) {
    UiMessageBox::Show(this, ErrorMessage(nCode), QMessageBox::Ok, QMessageBox::Warning);
}
