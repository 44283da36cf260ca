#include "CFunctionDlg.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QTimerEvent>
#include <algorithm>

#include "CFrameWork.h"
#include "CPlayPannelDlg.h"
#include "DialogUnits.h"
#include "DlgCtrlId.h"
#include "KXPlaySdk.h"
#include "MediaFileNames.h"
#include "MessageBox.h"
#include "PrivateMessage.h"
#include "ResourceTable.h"

using DialogUnits::ToPixels;

namespace {

constexpr int kTimerIntervalMs = 250;
const QString kZeroTime = QStringLiteral("00:00:00");

PlayWndInfo& CurrentInfo() {
    CFrameWork& fw = GetFrameWork();
    return fw.m_stPlayInfo[fw.m_nCurIndex];
}

}  // namespace

CFunctionDlg::CFunctionDlg(QWidget* pParent)
    : QWidget(pParent),
      m_sliderProgress(this),
      m_sliderVolume(this),
      m_staticPlayTime(kZeroTime, this),
      m_staticTotalTime(kZeroTime, this),
      m_btnPlay(this),
      m_btnStop(this),
      m_btnSpeed(this),
      m_btnSnapshot(this),
      m_btnRecord(this),
      m_btnSound(this),
      m_checkFill(QStringLiteral("画质填充："), this),
      m_comboRotate(this),
      m_labelRotate(QStringLiteral("视频旋转："), this) {
    resize(ToPixels(QSize(630, 53)));
    struct Placement {
        QWidget* pWidget;
        int nId;
        QRect rc;
    };
    const Placement placements[] = {
        {&m_sliderProgress, IDC_SLIDER_PROGRESS, ToPixels(59, 0, 394, 12)},
        {&m_staticPlayTime, IDC_STATIC_PLAYTIME, ToPixels(7, 2, 30, 8)},
        {&m_staticTotalTime, IDC_STATIC_TOTALTIME, ToPixels(528, 3, 29, 8)},
        {&m_btnPlay, IDC_BTN_PLAY, ToPixels(15, 16, 38, 32)},
        {&m_btnStop, IDC_BTN_STOP, ToPixels(73, 16, 38, 32)},
        {&m_btnSpeed, IDC_BTN_SPEED, ToPixels(131, 16, 38, 32)},
        {&m_btnSnapshot, IDC_BTN_SNAPSHOT, ToPixels(189, 16, 38, 32)},
        {&m_btnRecord, IDC_BTN_RECORD, ToPixels(247, 16, 38, 32)},
        {&m_btnSound, IDC_BTN_SOUND, ToPixels(510, 24, 27, 24)},
        {&m_sliderVolume, IDC_SLIDER_VOLUME, ToPixels(536, 20, 84, 23)},
        {&m_labelRotate, 0, ToPixels(307, 28, 41, 8)},
        {&m_comboRotate, IDC_COMBO_ROTATE, ToPixels(348, 26, 60, 12)},
        {&m_checkFill, IDC_CHECK_FILL, ToPixels(432, 27, 47, 10)},
    };
    for (const Placement& p : placements) {
        p.pWidget->setGeometry(p.rc);
        if (p.nId != 0) {
            SetDlgCtrlID(p.pWidget, p.nId);
        }
    }
    // The static texts are sized for the dialog font; taller glyphs get room below.
    for (QLabel* pLabel : {&m_staticPlayTime, &m_staticTotalTime, &m_labelRotate}) {
        pLabel->resize(std::max(pLabel->width(), pLabel->sizeHint().width()),
                       std::max(pLabel->height(), pLabel->sizeHint().height()));
    }
    m_staticTotalTime.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Text left of the box.
    m_checkFill.setLayoutDirection(Qt::RightToLeft);
    m_checkFill.resize(std::max(m_checkFill.width(), m_checkFill.sizeHint().width()),
                       m_checkFill.height());

    connect(&m_btnPlay, &QPushButton::clicked, this, &CFunctionDlg::OnPlay);
    connect(&m_btnStop, &QPushButton::clicked, this, &CFunctionDlg::OnStop);
    connect(&m_btnSpeed, &QPushButton::clicked, this, &CFunctionDlg::OnSpeed);
    connect(&m_btnSnapshot, &QPushButton::clicked, this, &CFunctionDlg::OnSnapshot);
    connect(&m_btnRecord, &QPushButton::clicked, this, &CFunctionDlg::OnRecord);
    connect(&m_btnSound, &QPushButton::clicked, this, &CFunctionDlg::OnSound);
    connect(&m_comboRotate, &QComboBox::activated, this, &CFunctionDlg::OnRotate);
    connect(&m_checkFill, &QCheckBox::clicked, this, &CFunctionDlg::OnFill);
}

CFunctionDlg::~CFunctionDlg() {
    m_timer.stop();
}

void CFunctionDlg::Create(QWidget* pParent) {
    setParent(pParent);
    m_timer.start(kTimerIntervalMs, this);

    m_btnPlay.setToolTip(QStringLiteral("播放/暂停"));
    m_btnStop.setToolTip(QStringLiteral("停止"));
    m_btnSpeed.setToolTip(QStringLiteral("速率控制"));
    m_btnSnapshot.setToolTip(QStringLiteral("抓拍"));
    m_btnRecord.setToolTip(QStringLiteral("录像"));
    m_btnSound.setToolTip(QStringLiteral("声音"));

    SetPlayIcons(true);
    m_btnStop.SetIcons(IDI_STOP_HOT, IDI_STOP_REST);
    m_btnSpeed.SetIcons(IDI_SPEED_HOT, IDI_SPEED_REST);
    m_btnSnapshot.SetIcons(IDI_SNAPSHOT_HOT, IDI_SNAPSHOT_REST);
    SetRecordIcons(false);
    SetSoundIcons(false);
    for (CButtonST* pBtn :
         {&m_btnPlay, &m_btnStop, &m_btnSpeed, &m_btnSnapshot, &m_btnRecord, &m_btnSound}) {
        pBtn->SetBorder(false);
        pBtn->SetTransparent();
    }

    const QString items[] = {QStringLiteral("0°"), QStringLiteral("90°"), QStringLiteral("180°"),
                             QStringLiteral("270°")};
    for (int i = 0; i < 4; ++i) {
        m_comboRotate.addItem(items[i], i);
    }
    m_comboRotate.setCurrentIndex(0);
    m_checkFill.setChecked(true);

    m_sliderProgress.m_nRangeMin = 0;
    m_sliderProgress.m_nRangeMax = 1000;
    m_sliderProgress.SetPosition(0);
    m_sliderProgress.m_nPageStep = 50;
    m_sliderVolume.m_nRangeMin = 0;
    m_sliderVolume.m_nRangeMax = 100;
    m_sliderVolume.SetPosition(0);
    m_sliderVolume.m_nPageStep = 10;
    show();
}

QString CFunctionDlg::FormatTime(int nSeconds) {
    const int t = std::max(nSeconds, 0);
    return QString::asprintf("%.2d:%.2d:%.2d", t / 3600, (t % 3600) / 60, t % 60);
}

void CFunctionDlg::SetPlayIcons(bool bPlay) {
    m_nPlayIcon = bPlay ? IDI_PLAY_HOT : IDI_PAUSE_HOT;
    m_btnPlay.SetIcons(m_nPlayIcon, bPlay ? IDI_PLAY_REST : IDI_PAUSE_REST);
}

void CFunctionDlg::SetRecordIcons(bool bRecording) {
    m_nRecordIcon = bRecording ? IDI_RECORDING_HOT : IDI_RECORD_HOT;
    m_btnRecord.SetIcons(m_nRecordIcon, bRecording ? IDI_RECORDING_REST : IDI_RECORD_REST);
}

void CFunctionDlg::SetSoundIcons(bool bOn) {
    m_nSoundIcon = bOn ? IDI_SOUND_ON : IDI_SOUND_OFF;
    m_btnSound.SetIcons(m_nSoundIcon, 0);
}

void CFunctionDlg::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    if (isVisible()) {
        Layout();
    }
}

void CFunctionDlg::Layout() {
    const QRect rc = rect();
    m_staticPlayTime.move(0, 5);
    m_staticTotalTime.move(rc.right() + 1 - m_staticTotalTime.width(), 5);
    const int nLeft = m_staticPlayTime.geometry().right() + 1 + 5;
    const int nRight = m_staticTotalTime.geometry().left() - 5;
    m_sliderProgress.setGeometry(nLeft, 5, std::max(nRight - nLeft, 0), m_sliderProgress.height());
    const int dx = rc.right() - m_sliderVolume.geometry().right();
    m_sliderVolume.move(m_sliderVolume.pos() + QPoint(dx, 0));
    m_btnSound.move(m_btnSound.pos() + QPoint(dx, 0));
    // The sound button's background copy is taken again at its new place.
    m_btnSound.SetTransparent();

    m_sliderProgress.m_bFitLength = true;
    m_sliderProgress.SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false);
    m_sliderProgress.SetKnobBitmaps();
    m_sliderProgress.m_nMarginLeft = 0;
    m_sliderProgress.m_nMarginRight = 2;
    m_sliderProgress.m_nMarginTop = 2;
    m_sliderProgress.m_nMarginBottom = 0;
    m_sliderVolume.SetTrackBitmaps(IDB_VOLUME_TRACK, IDB_VOLUME_FILL, true);
    m_sliderVolume.m_nMarginLeft = 8;
    m_sliderVolume.m_nMarginRight = 8;
    update();
}

void CFunctionDlg::RepaintPlayWindow(int nIndex) {
    if (m_pPlayPannel != nullptr && nIndex >= 0 && nIndex < CPlayPannelDlg::kWindowCount) {
        m_pPlayPannel->m_wndPlay[nIndex].update();
    }
}

void CFunctionDlg::Refresh() {
    if (m_pPlayPannel == nullptr) {
        return;
    }
    CFrameWork& fw = GetFrameWork();
    const PlayWndInfo& info = CurrentInfo();
    const int nType = info.nPlayType;
    if (nType == kPlayNone) {
        RepaintPlayWindow(fw.m_nCurIndex);
        SetPlayIcons(true);
        m_btnStop.SetIcons(IDI_STOP_HOT, IDI_STOP_REST);
        m_btnSpeed.SetIcons(IDI_SPEED_HOT, IDI_SPEED_REST);
        m_btnSnapshot.SetIcons(IDI_SNAPSHOT_HOT, IDI_SNAPSHOT_REST);
        SetRecordIcons(false);
        SetSoundIcons(false);
        m_comboRotate.setCurrentIndex(0);
        m_checkFill.setChecked(true);
        m_sliderProgress.SetPosition(0);
        m_sliderVolume.SetPosition(0);
        m_staticPlayTime.setText(kZeroTime);
        m_staticTotalTime.setText(kZeroTime);
        return;
    }
    const bool bFile = nType == kPlayFile;
    SetPlayIcons(bFile ? info.bPause != 0 : true);
    // A file is never recorded; the mark of a stream shown before must not stay.
    SetRecordIcons(!bFile && info.bRecord != 0);
    m_comboRotate.setCurrentIndex(std::clamp(static_cast<int>(info.nRotate), 0, 3));
    m_checkFill.setChecked(info.bNoFill == 0);
    SetSoundIcons(info.bSound != 0);
    m_sliderVolume.SetPosition(info.bSound != 0 ? info.nVolume : 0);
    m_staticPlayTime.setText(kZeroTime);
    const int nLength = bFile ? fw.GetFileLength() : fw.GetStreamLength();
    m_staticTotalTime.setText(nLength > 0 ? FormatTime(nLength) : kZeroTime);
    const int nTime = bFile ? fw.GetFilePlayTime() : fw.GetStreamPlayTime();
    if (nTime <= 0) {
        m_sliderProgress.SetPosition(0);
    }
}

void CFunctionDlg::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_timer.timerId()) {
        OnTimer();
        return;
    }
    QWidget::timerEvent(pEvent);
}

void CFunctionDlg::OnTimer() {
    CFrameWork& fw = GetFrameWork();
    for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
        if (fw.m_stPlayInfo[i].bPlayEnd) {
            fw.ClosePlay(i);
            Refresh();
            RepaintPlayWindow(i);
        }
    }
    const int nType = CurrentInfo().nPlayType;
    if (nType == kPlayNone) {
        return;
    }
    const bool bFile = nType == kPlayFile;
    const int t = bFile ? fw.GetFilePlayTime() : fw.GetStreamPlayTime();
    if (t <= 0) {
        return;
    }
    const int nLength = bFile ? fw.GetFileLength() : fw.GetStreamLength();
    if (nLength <= 0) {
        return;
    }
    m_staticPlayTime.setText(FormatTime(t));
    // The knob stays with the user while it is being dragged.
    if (!m_sliderProgress.m_bDragging) {
        m_sliderProgress.SetPosition(static_cast<int>(static_cast<int64_t>(t) * 1000 / nLength));
    }
}

void CFunctionDlg::customEvent(QEvent* pEvent) {
    const int nType = static_cast<int>(pEvent->type());
    if (nType == MSG_PLAYWND_CHANGED) {
        Refresh();
        return;
    }
    if (nType == MSG_SLIDER_MOVED) {
        OnSliderMoved(static_cast<int>(static_cast<CPrivateMessage*>(pEvent)->WParam()));
        return;
    }
    QWidget::customEvent(pEvent);
}

void CFunctionDlg::OnSliderMoved(int nCtrlId) {
    CFrameWork& fw = GetFrameWork();
    const int nType = CurrentInfo().nPlayType;
    if (nType == kPlayNone) {
        return;
    }
    if (nCtrlId == IDC_SLIDER_VOLUME) {
        fw.SetVolume(m_sliderVolume.m_nPosition);
    } else if (nCtrlId == IDC_SLIDER_PROGRESS) {
        const int64_t p = m_sliderProgress.m_nPosition;
        if (nType == kPlayFile) {
            const int64_t nLength = fw.GetFileLength();
            if (nLength > 0) {
                fw.SetFilePlayTime(static_cast<int>(nLength * p / 1000));
            }
        } else {
            const int64_t nLength = fw.GetStreamLength();
            if (nLength > 0) {
                fw.SetStreamPlayTime(static_cast<int>(nLength * p / 1000));
            }
        }
    }
}

void CFunctionDlg::OnPlay() {
    GetFrameWork().Pause();
    Refresh();
}

void CFunctionDlg::OnStop() {
    CFrameWork& fw = GetFrameWork();
    fw.ClosePlay(fw.m_nCurIndex);
    RepaintPlayWindow(fw.m_nCurIndex);
    Refresh();
}

bool CFunctionDlg::BuildSpeedMenu(QMenu& menu, int nLevel) {
    const auto menus = BrelsoRes::LoadMenuResource(IDR_MENU_SPEED);
    // A level outside the menu has nothing to tick: no menu.
    if (menus.empty() || nLevel < -3 || nLevel > 3) {
        return false;
    }
    menu.setTitle(menus[0].strTitle);
    int nPos = 0;
    for (const BrelsoRes::MenuItem& item : menus[0].items) {
        QAction* pAction = menu.addAction(item.strText);
        pAction->setData(item.nId);
        pAction->setCheckable(true);
        // Level 3 ("8倍速") is the first item, level -3 ("1/8倍速") the last.
        pAction->setChecked(nPos == 3 - nLevel);
        ++nPos;
    }
    return true;
}

void CFunctionDlg::OnSpeed() {
    const PlayWndInfo& info = CurrentInfo();
    if (info.nPlayType != kPlayFile) {
        return;
    }
    int32_t nLevel = 0;
    if (KX_PLAY_GetSpeed(info.nPort, &nLevel) < 0) {
        return;
    }
    QMenu menu(this);
    if (!BuildSpeedMenu(menu, nLevel)) {
        return;
    }
    QAction* pChosen = menu.exec(QCursor::pos());
    if (pChosen != nullptr) {
        OnSpeedCommand(pChosen->data().toInt());
    }
}

void CFunctionDlg::OnSpeedCommand(int nId) {
    const PlayWndInfo& info = CurrentInfo();
    if (info.nPlayType != kPlayFile || nId < ID_SPEED_8X || nId > ID_SPEED_1_8X) {
        return;
    }
    // 32778 is 8 times (level 3), each next command half as fast.
    KX_PLAY_SetSpeed(info.nPort, 3 - (nId - ID_SPEED_8X));
}

void CFunctionDlg::OnSnapshot() {
    QString strPath;
    CFrameWork& fw = GetFrameWork();
    if (fw.Snapshot(strPath) && !strPath.isEmpty()) {
        UiMessageBox::Show(this, strPath);
        return;
    }
    UiMessageBox::Show(this, SnapshotFailureText());
}

QString CFunctionDlg::SnapshotFailureText() const {
    CFrameWork& fw = GetFrameWork();
    const bool bPicture = CurrentInfo().nPlayType != kPlayNone && m_pPlayPannel != nullptr &&
                          m_pPlayPannel->m_wndPlay[fw.m_nCurIndex].HasPicture();
    if (!bPicture) return QStringLiteral("抓拍失败：还没有画面！");
    const QString strFolder = MediaFileNames::ResolveFolder(fw.m_strSnapPath);
    if (strFolder.isEmpty() || !QFileInfo(strFolder).isDir()) {
        return QStringLiteral("抓拍失败：保存图片的文件夹不存在！\n") +
               QDir::toNativeSeparators(strFolder);
    }
    return QStringLiteral("抓拍失败：图片无法写入（磁盘已满或没有写入权限）！\n") +
           QDir::toNativeSeparators(strFolder);
}

void CFunctionDlg::OnRecord() {
    QString strPath;
    // While another window connects, the start comes later instead of holding this thread.
    QPointer<CFunctionDlg> pThis(this);
    GetFrameWork().Record(strPath, [pThis](const QString& strLaterPath) {
        if (pThis == nullptr) return;
        pThis->Refresh();
        if (!strLaterPath.isEmpty()) UiMessageBox::Show(pThis, strLaterPath);
    });
    Refresh();
    if (!strPath.isEmpty()) {
        UiMessageBox::Show(this, strPath);
    }
}

void CFunctionDlg::OnSound() {
    GetFrameWork().Sound();
    Refresh();
}

void CFunctionDlg::OnRotate(int nItem) {
    if (CurrentInfo().nPlayType == kPlayNone || nItem < 0) {
        return;
    }
    GetFrameWork().SetRotate(m_comboRotate.itemData(nItem).toInt());
}

void CFunctionDlg::OnFill() {
    PlayWndInfo& info = CurrentInfo();
    const int v = m_checkFill.isChecked() ? 0 : 1;
    if (info.nPlayType == kPlayNone) {
        return;
    }
    if (KX_PLAY_SetFillMode(info.nPort, v) != 0) {
        info.bNoFill = v;
    }
}
