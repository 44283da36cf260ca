// One play window of the video panel: the surface a source is shown in. It marks itself with
// a red frame while it is the current window, fills the whole panel on a double click, shows
// the logo while nothing is open, and otherwise shows the pictures the decode library hands
// to its render target.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>
#include <atomic>
#include <mutex>

#include "KXPlaySdk.h"
#include "PrivateMessage.h"

class CPlayPannelDlg;
class QPainter;

class CPlayDlg : public QWidget {
    Q_OBJECT
public:
    explicit CPlayDlg(QWidget* pParent = nullptr);
    ~CPlayDlg() override;

    // Creates the window as a hidden child of the panel.
    void Create(CPlayPannelDlg* pPanel);

    // The render target the decode library draws into; stays valid as long as the window.
    KX_PLAY_HWND RenderTarget() { return &m_renderTarget; }
    // The client area: the window less its one-pixel border.
    QRect ClientRect() const;
    // Whether a picture from the decode library is waiting to be shown or shown now.
    bool HasPicture() const;
    // Pictures that reached the window thread so far.
    int ShownPictures() const { return m_nShownPictures; }
    // The notice drawn over the window now, or empty: "正在连接…" while a stream is being
    // opened; "无信号 HH:MM:SS" with the time since the last picture once a playing stream
    // has shown no new picture for kNoSignalMs.
    QString OverlayText() const;

    static constexpr int64_t kNoSignalMs = 3000;

    int m_nIndex = -1;
    QRect m_rcTile;
    QRect m_rcFull;
    QColor m_brBack{50, 50, 50};
    bool m_bSelected = false;
    bool m_bMaximized = false;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    CPlayPannelDlg* Panel() const;
    void OnSelect();
    void OnMaximizeRestore();
    void DrawOverlay(QPainter& dc, const QRect& rcClient, const QString& strText) const;

    // Called on the decode library's threads.
    static void GetSizeThunk(void* pContext, int32_t* pWidth, int32_t* pHeight);
    static void PresentThunk(void* pContext, const KX_PLAY_PICTURE* pPicture);
    void Present(const KX_PLAY_PICTURE* pPicture);

    KX_PLAY_RENDER_TARGET m_renderTarget{};
    std::atomic<int32_t> m_nClientWidth{0};
    std::atomic<int32_t> m_nClientHeight{0};
    std::atomic<bool> m_bRepaintPending{false};
    int m_nShownPictures = 0;
    // Watching the stream for pictures: the play watched, and when its last picture came
    // (steady clock, ms; also written by the decode library's threads).
    QBasicTimer m_timerSignal;
    int32_t m_lWatchedPlay = -1;
    std::atomic<int64_t> m_llLastPictureMs{0};
    QString m_strShownOverlay;
    mutable std::mutex m_mtxPicture;
    QImage m_picture;  // last picture handed over, guarded by m_mtxPicture
};
