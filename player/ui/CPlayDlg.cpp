#include "CPlayDlg.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "CFrameWork.h"
#include "CPlayPannelDlg.h"
#include "DialogUnits.h"
#include "ResourceTable.h"

namespace {

// Largest picture side a render target accepts from the decode library.
constexpr int32_t kMaxPictureSide = 16384;

const QPixmap& LogoPixmap() {
    static const QPixmap s_logo = QPixmap::fromImage(BrelsoRes::LoadBitmapImage(IDB_LOGO));
    return s_logo;
}

}  // namespace

CPlayDlg::CPlayDlg(QWidget* pParent) : QWidget(pParent) {
    m_renderTarget.pContext = this;
    m_renderTarget.fnGetSize = &CPlayDlg::GetSizeThunk;
    m_renderTarget.fnPresent = &CPlayDlg::PresentThunk;
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(DialogUnits::ToPixels(QSize(186, 93)));
}

CPlayDlg::~CPlayDlg() = default;

void CPlayDlg::Create(CPlayPannelDlg* pPanel) {
    hide();
    setParent(pPanel);
}

CPlayPannelDlg* CPlayDlg::Panel() const {
    return qobject_cast<CPlayPannelDlg*>(parentWidget());
}

QRect CPlayDlg::ClientRect() const {
    return rect().adjusted(1, 1, -1, -1);
}

bool CPlayDlg::HasPicture() const {
    std::lock_guard<std::mutex> lock(m_mtxPicture);
    return !m_picture.isNull();
}

void CPlayDlg::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    const QRect rc = ClientRect();
    m_nClientWidth = std::max(rc.width(), 0);
    m_nClientHeight = std::max(rc.height(), 0);
}

void CPlayDlg::paintEvent(QPaintEvent*) {
    QPainter dc(this);
    const QRect rcClient = ClientRect();
    const bool bIdle = m_nIndex < 0 || m_nIndex >= CFrameWork::kWindowCount ||
                       GetFrameWork().m_stPlayInfo[m_nIndex].nPlayType == kPlayNone;
    if (bIdle) {
        {
            // A picture of a closed play must not come back with the next source.
            std::lock_guard<std::mutex> lock(m_mtxPicture);
            m_picture = QImage();
        }
        dc.fillRect(rcClient, QColor(30, 30, 30));
        const QPixmap& logo = LogoPixmap();
        dc.save();
        dc.setClipRect(rcClient);
        dc.drawPixmap(rcClient.left() + (rcClient.width() - logo.width()) / 2,
                      rcClient.top() + (rcClient.height() - logo.height()) / 2, logo);
        dc.restore();
    } else {
        dc.fillRect(rcClient, m_brBack);
        std::lock_guard<std::mutex> lock(m_mtxPicture);
        if (!m_picture.isNull()) {
            dc.save();
            dc.setClipRect(rcClient);
            dc.drawImage(rcClient.topLeft(), m_picture);
            dc.restore();
        }
    }
    // The frame along the window's outline: red on the current window, black on the others.
    const QColor clr = m_bSelected ? QColor(255, 0, 0) : QColor(0, 0, 0);
    const int w = width();
    const int h = height();
    dc.fillRect(0, 0, w, 1, clr);
    dc.fillRect(0, 0, 1, h, clr);
    dc.fillRect(0, h - 1, w, 1, clr);
    dc.fillRect(w - 1, 0, 1, h, clr);
}

void CPlayDlg::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        OnSelect();
    }
    QWidget::mousePressEvent(pEvent);
}

void CPlayDlg::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        OnMaximizeRestore();
    }
}

void CPlayDlg::OnSelect() {
    CPlayPannelDlg* pPanel = Panel();
    if (pPanel == nullptr) {
        return;
    }
    GetFrameWork().m_nCurIndex = m_nIndex;
    for (int i = 0; i < CPlayPannelDlg::kWindowCount; ++i) {
        CPlayDlg& wnd = pPanel->m_wndPlay[i];
        if (wnd.m_bSelected) {
            wnd.m_bSelected = false;
            wnd.update();
        }
    }
    m_bSelected = true;
    update();
    PostPrivateMessage(pPanel, MSG_PLAYWND_CHANGED, 0, 0);
}

void CPlayDlg::OnMaximizeRestore() {
    CPlayPannelDlg* pPanel = Panel();
    if (pPanel == nullptr) {
        return;
    }
    const bool bIndexValid = m_nIndex >= 0 && m_nIndex < CPlayPannelDlg::kWindowCount;
    if (m_bMaximized) {
        if (bIndexValid) {
            for (int i = 0; i < CPlayPannelDlg::kWindowCount; ++i) {
                if (i != m_nIndex) {
                    pPanel->m_wndPlay[i].show();
                }
            }
        }
        setGeometry(m_rcTile);
    } else {
        setGeometry(m_rcFull);
        if (bIndexValid) {
            for (int i = 0; i < CPlayPannelDlg::kWindowCount; ++i) {
                if (i != m_nIndex) {
                    pPanel->m_wndPlay[i].hide();
                }
            }
        }
    }
    update();
    m_bMaximized = !m_bMaximized;
}

void CPlayDlg::GetSizeThunk(void* pContext, int32_t* pWidth, int32_t* pHeight) {
    const auto* pThis = static_cast<const CPlayDlg*>(pContext);
    if (pWidth != nullptr) {
        *pWidth = pThis->m_nClientWidth;
    }
    if (pHeight != nullptr) {
        *pHeight = pThis->m_nClientHeight;
    }
}

void CPlayDlg::PresentThunk(void* pContext, const KX_PLAY_PICTURE* pPicture) {
    static_cast<CPlayDlg*>(pContext)->Present(pPicture);
}

void CPlayDlg::Present(const KX_PLAY_PICTURE* pPicture) {
    if (pPicture == nullptr || pPicture->pData == nullptr || pPicture->nWidth <= 0 ||
        pPicture->nHeight <= 0 || pPicture->nWidth > kMaxPictureSide ||
        pPicture->nHeight > kMaxPictureSide || pPicture->nStride / 4 < pPicture->nWidth) {
        return;
    }
    // BGRA in memory is the 0xAARRGGBB word of Qt's 32-bit format; the copy is the window's.
    QImage copy = QImage(pPicture->pData, pPicture->nWidth, pPicture->nHeight, pPicture->nStride,
                         QImage::Format_RGB32)
                      .copy();
    {
        std::lock_guard<std::mutex> lock(m_mtxPicture);
        m_picture = std::move(copy);
    }
    // One repaint request at a time reaches the window thread; a later picture rides along.
    if (!m_bRepaintPending.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bRepaintPending = false;
                update(ClientRect());
            },
            Qt::QueuedConnection);
    }
}
