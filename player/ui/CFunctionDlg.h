// The control panel at the bottom of the main window: play time and length, the progress
// slider, play/pause, stop, speed, snapshot, recording, sound with its volume slider, rotation
// and picture fill, all acting on the current play window. A 250 ms timer updates the time
// display and closes every window whose play has ended.
#pragma once

#include <QBasicTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QWidget>

#include "CBitmapSlider.h"
#include "CButtonST.h"

class CPlayPannelDlg;
class QMenu;

class CFunctionDlg : public QWidget {
    Q_OBJECT
public:
    explicit CFunctionDlg(QWidget* pParent = nullptr);
    ~CFunctionDlg() override;

    // Creates the panel as a child of pParent and initialises its controls.
    void Create(QWidget* pParent);
    // Shows the state of the current play window.
    void Refresh();
    // One tick of the update timer.
    void OnTimer();
    // A command of the speed menu (32778 "8倍速" .. 32784 "1/8倍速").
    void OnSpeedCommand(int nId);

    // Fills the speed menu and ticks the entry of the decode level (-3..3); false for a level
    // outside the menu.
    static bool BuildSpeedMenu(QMenu& menu, int nLevel);
    // "%.2d:%.2d:%.2d" of a count of seconds; hours may take more than two digits.
    static QString FormatTime(int nSeconds);
    // Why a snapshot of the current window could not be taken: no picture yet, the folder
    // missing, or the file not written.
    QString SnapshotFailureText() const;

    CBitmapSlider m_sliderProgress;
    CBitmapSlider m_sliderVolume;
    QLabel m_staticPlayTime;
    QLabel m_staticTotalTime;
    CButtonST m_btnPlay;
    CButtonST m_btnStop;
    CButtonST m_btnSpeed;
    CButtonST m_btnSnapshot;
    CButtonST m_btnRecord;
    CButtonST m_btnSound;
    QCheckBox m_checkFill;
    QComboBox m_comboRotate;
    QLabel m_labelRotate;
    CPlayPannelDlg* m_pPlayPannel = nullptr;

    // Icons the buttons show now (resource numbers of the hot icon), for the panel's state.
    int m_nPlayIcon = 0;
    int m_nRecordIcon = 0;
    int m_nSoundIcon = 0;

public slots:
    void OnPlay();
    void OnStop();
    void OnSpeed();
    void OnSnapshot();
    void OnRecord();
    void OnSound();
    void OnRotate(int nItem);
    void OnFill();

protected:
    void resizeEvent(QResizeEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;

private:
    void Layout();
    void SetPlayIcons(bool bPlay);
    void SetRecordIcons(bool bRecording);
    void SetSoundIcons(bool bOn);
    void RepaintPlayWindow(int nIndex);
    void OnSliderMoved(int nCtrlId);

    QBasicTimer m_timer;
};
