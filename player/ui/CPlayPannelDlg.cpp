#include "CPlayPannelDlg.h"

#include "CFrameWork.h"
#include "DialogUnits.h"
#include "PrivateMessage.h"

CPlayPannelDlg::CPlayPannelDlg(QWidget* pParent) : QWidget(pParent) {
    resize(DialogUnits::ToPixels(QSize(186, 94)));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 0));
    setPalette(pal);
}

CPlayPannelDlg::~CPlayPannelDlg() {
    if (!m_bCreated) {
        return;
    }
    // The controller must not keep targets of windows that are going away.
    CFrameWork& fw = GetFrameWork();
    for (int i = 0; i < kWindowCount; ++i) {
        if (fw.m_stPlayInfo[i].hPlayWnd == m_wndPlay[i].RenderTarget()) {
            fw.m_stPlayInfo[i].hPlayWnd = nullptr;
        }
    }
}

void CPlayPannelDlg::Create(QWidget* pParent) {
    setParent(pParent);
    CFrameWork& fw = GetFrameWork();
    for (int i = 0; i < kWindowCount; ++i) {
        m_wndPlay[i].Create(this);
        m_wndPlay[i].m_nIndex = i;
        fw.m_stPlayInfo[i].hPlayWnd = m_wndPlay[i].RenderTarget();
    }
    m_bCreated = true;
    // The mark goes to the controller's current window (window 0 at start).
    const int nCur = fw.m_nCurIndex >= 0 && fw.m_nCurIndex < kWindowCount ? fw.m_nCurIndex : 0;
    m_wndPlay[nCur].m_bSelected = true;
    LayoutWindows();
    for (CPlayDlg& wnd : m_wndPlay) {
        wnd.show();
    }
    show();
}

void CPlayPannelDlg::SelectWindow(int nIndex) {
    if (nIndex < 0 || nIndex >= kWindowCount) return;
    GetFrameWork().m_nCurIndex = nIndex;
    for (int i = 0; i < kWindowCount; ++i) {
        m_wndPlay[i].m_bSelected = i == nIndex;
        m_wndPlay[i].update();
    }
    PostPrivateMessage(this, MSG_PLAYWND_CHANGED, 0, 0);
}

void CPlayPannelDlg::LayoutWindows() {
    const QRect rcClient = rect();
    const int halfW = rcClient.width() / 2;
    const int halfH = rcClient.height() / 2;
    for (int i = 0; i < kWindowCount; ++i) {
        const int x = (i % 2) * halfW;
        const int y = (i / 2) * halfH;
        m_wndPlay[i].m_rcTile = QRect(x, y, halfW, halfH);
        m_wndPlay[i].m_rcFull = rcClient;
        m_wndPlay[i].setGeometry(m_wndPlay[i].m_rcTile);
        m_wndPlay[i].update();
    }
}

void CPlayPannelDlg::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    if (!m_bCreated || !isVisible()) {
        return;
    }
    for (CPlayDlg& wnd : m_wndPlay) {
        wnd.hide();
    }
    LayoutWindows();
    for (CPlayDlg& wnd : m_wndPlay) {
        if (wnd.m_bMaximized) {
            // A maximised window fills the panel again at its new size; the others stay hidden.
            wnd.setGeometry(wnd.m_rcFull);
            wnd.show();
            return;
        }
    }
    for (CPlayDlg& wnd : m_wndPlay) {
        wnd.show();
    }
}

void CPlayPannelDlg::customEvent(QEvent* pEvent) {
    if (static_cast<int>(pEvent->type()) == MSG_PLAYWND_CHANGED) {
        const auto* pMsg = static_cast<CPrivateMessage*>(pEvent);
        PostPrivateMessage(parentWidget(), MSG_PLAYWND_CHANGED, pMsg->WParam(), pMsg->LParam());
        return;
    }
    QWidget::customEvent(pEvent);
}
