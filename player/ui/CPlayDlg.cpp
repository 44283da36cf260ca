#include "CPlayDlg.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "CFrameWork.h"
#include "CPlayPannelDlg.h"
#include "DialogUnits.h"
#include "ResourceTable.h"

namespace {

int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How often a playing stream is checked for pictures; a dead feed shows within
// kNoSignalMs plus this.
constexpr int kSignalCheckMs = 250;

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
    m_timerSignal.start(kSignalCheckMs, this);
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
        DrawOverlay(dc, rcClient, OverlayText());
    } else {
        std::lock_guard<std::mutex> lock(m_mtxPicture);
        // Pictures come at the client area's size, so one covers it; only while a new size
        // has not reached the decode library yet is the rest filled with the background.
        const QRect rcPicture =
            m_picture.isNull() ? QRect() : QRect(rcClient.topLeft(), m_picture.size()) & rcClient;
        if (rcPicture != rcClient) {
            for (const QRect& rc : QRegion(rcClient) - QRegion(rcPicture)) {
                dc.fillRect(rc, m_brBack);
            }
        }
        if (!rcPicture.isEmpty()) {
            dc.drawImage(rcPicture.topLeft(), m_picture, QRect(QPoint(0, 0), rcPicture.size()));
        }
        DrawOverlay(dc, rcClient, OverlayText());
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

QString CPlayDlg::OverlayText() const {
    if (m_nIndex < 0 || m_nIndex >= CFrameWork::kWindowCount) return QString();
    const CFrameWork& fw = GetFrameWork();
    if (fw.IsOpening(m_nIndex)) return QStringLiteral("正在连接…");
    const PlayWndInfo& info = fw.m_stPlayInfo[m_nIndex];
    // Only a live stream can go quiet; a paused or ended file is not a dead feed.
    if (info.nPlayType != kPlayStream || info.lRealHandle != m_lWatchedPlay) return QString();
    const int64_t llQuietMs = SteadyNowMs() - m_llLastPictureMs;
    if (llQuietMs < kNoSignalMs) return QString();
    const int64_t t = llQuietMs / 1000;
    return QStringLiteral("无信号 ") +
           QString::asprintf("%02d:%02d:%02d", static_cast<int>(t / 3600),
                             static_cast<int>(t % 3600 / 60), static_cast<int>(t % 60));
}

void CPlayDlg::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() != m_timerSignal.timerId()) {
        QWidget::timerEvent(pEvent);
        return;
    }
    if (m_nIndex >= 0 && m_nIndex < CFrameWork::kWindowCount) {
        const PlayWndInfo& info = GetFrameWork().m_stPlayInfo[m_nIndex];
        const int32_t lPlay = info.nPlayType == kPlayStream ? info.lRealHandle.load() : -1;
        if (lPlay != m_lWatchedPlay) {
            // A new play: its time without pictures counts from now.
            m_lWatchedPlay = lPlay;
            m_llLastPictureMs = SteadyNowMs();
        }
    }
    // Repainted when the notice changes, so its time goes on every second.
    const QString strOverlay = OverlayText();
    if (strOverlay != m_strShownOverlay) {
        m_strShownOverlay = strOverlay;
        update(ClientRect());
    }
}

void CPlayDlg::DrawOverlay(QPainter& dc, const QRect& rcClient, const QString& strText) const {
    if (strText.isEmpty()) return;
    // A dark translucent plate in the upper left corner: readable on any picture, and the
    // picture stays visible around and through it.
    QFont font = dc.font();
    font.setPixelSize(std::clamp(rcClient.height() / 14, 12, 28));
    font.setBold(true);
    dc.save();
    dc.setClipRect(rcClient);
    dc.setFont(font);
    const QRect rcText = dc.fontMetrics().boundingRect(strText);
    const int nPad = font.pixelSize() / 2;
    const QRect rcPlate(rcClient.left() + 8, rcClient.top() + 8, rcText.width() + 2 * nPad,
                        dc.fontMetrics().height() + nPad);
    dc.setPen(Qt::NoPen);
    dc.setBrush(QColor(0, 0, 0, 150));
    dc.drawRoundedRect(rcPlate, 4, 4);
    dc.setPen(QColor(255, 255, 255));
    dc.drawText(rcPlate, Qt::AlignCenter, strText);
    dc.restore();
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
    {
        // BGRA in memory is the 0xAARRGGBB word of Qt's 32-bit format. The window keeps one
        // picture of its own and writes each new one over it while the size stays the same.
        std::lock_guard<std::mutex> lock(m_mtxPicture);
        if (m_picture.width() != pPicture->nWidth || m_picture.height() != pPicture->nHeight ||
            !m_picture.isDetached()) {
            m_picture = QImage(pPicture->nWidth, pPicture->nHeight, QImage::Format_RGB32);
            if (m_picture.isNull()) return;  // no memory for it: the picture is skipped
        }
        const size_t nRowBytes = static_cast<size_t>(pPicture->nWidth) * 4;
        const qsizetype nStride = m_picture.bytesPerLine();
        uchar* pBits = m_picture.bits();
        if (nStride == pPicture->nStride) {
            std::memcpy(pBits, pPicture->pData, static_cast<size_t>(nStride) * pPicture->nHeight);
        } else {
            for (int32_t y = 0; y < pPicture->nHeight; ++y) {
                std::memcpy(pBits + static_cast<size_t>(y) * nStride,
                            pPicture->pData + static_cast<size_t>(y) * pPicture->nStride,
                            nRowBytes);
            }
        }
    }
    m_llLastPictureMs = SteadyNowMs();
    // One repaint request at a time reaches the window thread; a later picture rides along.
    if (!m_bRepaintPending.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bRepaintPending = false;
                ++m_nShownPictures;
                // The picture clears a "无信号" notice at once.
                m_strShownOverlay = OverlayText();
                update(ClientRect());
            },
            Qt::QueuedConnection);
    }
}
