// The control panel inside the main window, driving real plays: time display and progress,
// pause, sound and volume, rotation, fill, speed, seeking, stop, recording, snapshots and the
// closing of plays that ended by themselves.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <QtTest>
#include <memory>

#include "CBrelsoPlayerDlg.h"
#include "CFrameWork.h"
#include "DialogUnits.h"
#include "EngineMedia.h"
#include "MessageBox.h"
#include "ResourceTable.h"
#include "TestMedia.h"
#include "TestRtspServer.h"
#include "UiTestLibraries.h"
#include "resource.h"

using Brelso::Testing::TestRtspServer;

namespace {

// Upper bound for a play to reach a state on a loaded machine.
constexpr int kWaitMs = 30000;

void Deliver() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents();
    }
}

}  // namespace

class TestCFunctionDlg : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestRtspServer> m_server;
    std::unique_ptr<Brelso::Testing::TempDir> m_media;
    std::unique_ptr<CBrelsoPlayerDlg> m_pDlg;
    QString m_strLongQf;
    QString m_strShortQf;
    QStringList m_shown;

    CFunctionDlg& Panel() { return m_pDlg->m_dlgFunction; }
    PlayWndInfo& Info(int i) { return GetFrameWork().m_stPlayInfo[i]; }

    void Select(int i) {
        QTest::mouseClick(&m_pDlg->m_dlgPlayPannel.m_wndPlay[i], Qt::LeftButton, {},
                          QPoint(30, 30));
        Deliver();
        QCOMPARE(GetFrameWork().m_nCurIndex, i);
    }

    void CheckIdleControls() {
        QCOMPARE(Panel().m_staticPlayTime.text(), QStringLiteral("00:00:00"));
        QCOMPARE(Panel().m_staticTotalTime.text(), QStringLiteral("00:00:00"));
        QCOMPARE(Panel().m_nPlayIcon, IDI_PLAY_HOT);
        QCOMPARE(Panel().m_nRecordIcon, IDI_RECORD_HOT);
        QCOMPARE(Panel().m_nSoundIcon, IDI_SOUND_OFF);
        QCOMPARE(Panel().m_comboRotate.currentIndex(), 0);
        QVERIFY(Panel().m_checkFill.isChecked());
        QCOMPARE(Panel().m_sliderProgress.m_nPosition, 0);
        QCOMPARE(Panel().m_sliderVolume.m_nPosition, 0);
    }

private slots:
    void initTestCase() {
        UiTestLibraries::Init();
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)));
        m_server = std::make_unique<TestRtspServer>();
        m_server->addLiveMounts();
        QVERIFY2(m_server->start(), m_server->lastError().c_str());
        m_media = std::make_unique<Brelso::Testing::TempDir>();
        m_strLongQf = QString::fromStdString(m_media->file("long.qf"));
        m_strShortQf = QString::fromStdString(m_media->file("short.qf"));
        QVERIFY(EngineMedia::MakeQf(m_strLongQf, 20));
        QVERIFY(EngineMedia::MakeQf(m_strShortQf, 2));
        UiMessageBox::SetInterceptor([this](const QString& strText, QMessageBox::StandardButtons) {
            m_shown << strText;
            return QMessageBox::Ok;
        });
    }
    void cleanupTestCase() {
        UiMessageBox::SetInterceptor(nullptr);
        m_server.reset();
        UiTestLibraries::Cleanup();
    }
    void init() {
        m_shown.clear();
        GetFrameWork().m_nCurIndex = 0;
        m_pDlg = std::make_unique<CBrelsoPlayerDlg>();
        m_pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pDlg.get()));
        Deliver();
    }
    void cleanup() { m_pDlg.reset(); }

    void formatTime_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0 << "00:00:00";
        QTest::newRow("one of each") << 3661 << "01:01:01";
        QTest::newRow("under a minute") << 59 << "00:00:59";
        QTest::newRow("a day") << 86399 << "23:59:59";
        QTest::newRow("hundred hours") << 360000 << "100:00:00";
    }
    void formatTime() {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(CFunctionDlg::FormatTime(seconds), text);
    }

    void speedMenu_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("ticked");
        QTest::addColumn<QString>("text");
        QTest::newRow("8 times") << 3 << 0 << "8倍速";
        QTest::newRow("2 times") << 1 << 2 << "2倍速";
        QTest::newRow("normal") << 0 << 3 << "正常速度";
        QTest::newRow("1/4") << -2 << 5 << "1/4倍速";
        QTest::newRow("1/8") << -3 << 6 << "1/8倍速";
        QTest::newRow("above the menu") << 4 << -1 << "";
        QTest::newRow("below the menu") << -4 << -1 << "";
    }
    void speedMenu() {
        QFETCH(int, level);
        QFETCH(int, ticked);
        QFETCH(QString, text);
        QMenu menu;
        QCOMPARE(CFunctionDlg::BuildSpeedMenu(menu, level), ticked >= 0);
        if (ticked < 0) {
            QVERIFY(menu.actions().isEmpty());
            return;
        }
        QCOMPARE(menu.title(), QStringLiteral("速率"));
        const QList<QAction*> actions = menu.actions();
        QCOMPARE(actions.size(), 7);
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->isChecked(), i == ticked);
            QCOMPARE(actions[i]->data().toInt(), ID_SPEED_8X + i);
        }
        QCOMPARE(actions[ticked]->text(), text);
    }

    void startState() {
        CheckIdleControls();
        QCOMPARE(Panel().m_comboRotate.count(), 4);
        const QStringList texts{"0°", "90°", "180°", "270°"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(Panel().m_comboRotate.itemText(i), texts[i]);
            QCOMPARE(Panel().m_comboRotate.itemData(i).toInt(), i);
        }
        QCOMPARE(Panel().m_sliderProgress.m_nRangeMax, 1000);
        QCOMPARE(Panel().m_sliderProgress.m_nPageStep, 50);
        QCOMPARE(Panel().m_sliderVolume.m_nRangeMax, 100);
        QCOMPARE(Panel().m_sliderVolume.m_nPageStep, 10);
        QCOMPARE(Panel().m_btnPlay.toolTip(), QStringLiteral("播放/暂停"));
        QCOMPARE(Panel().m_btnSound.toolTip(), QStringLiteral("声音"));
        QCOMPARE(Panel().m_checkFill.text(), QStringLiteral("画质填充："));
    }

    void layout() {
        for (const QSize size : {QSize(1000, 720), QSize(1301, 777)}) {
            m_pDlg->resize(size);
            Deliver();
            const CFunctionDlg& p = Panel();
            const int w = p.width();
            QCOMPARE(w, size.width());
            QCOMPARE(p.m_staticPlayTime.pos(), QPoint(0, 5));
            QCOMPARE(p.m_staticTotalTime.geometry().right(), w - 1);
            QCOMPARE(p.m_staticTotalTime.geometry().top(), 5);
            const QRect rcProgress = p.m_sliderProgress.geometry();
            QCOMPARE(rcProgress.left(), p.m_staticPlayTime.geometry().right() + 1 + 5);
            QCOMPARE(rcProgress.right() + 1, p.m_staticTotalTime.geometry().left() - 5);
            QCOMPARE(rcProgress.top(), 5);
            QCOMPARE(rcProgress.height(), 14);  // the track's height
            QCOMPARE(p.m_sliderProgress.m_cxTrack, rcProgress.width());
            QCOMPARE(p.m_sliderVolume.geometry().right(), w - 1);
            QCOMPARE(p.m_sliderVolume.geometry().left() - p.m_btnSound.geometry().left(),
                     DialogUnits::ToPixelsX(536) - DialogUnits::ToPixelsX(510));
            QCOMPARE(p.m_sliderVolume.m_nMarginLeft, 8);
            QCOMPARE(p.m_sliderProgress.m_nMarginRight, 2);
        }
    }

    void fileControls() {
        CFrameWork& fw = GetFrameWork();
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strLongQf));
        Deliver();
        const int nLength = fw.GetFileLength();
        QVERIFY(nLength > 10);
        QCOMPARE(Panel().m_staticTotalTime.text(), CFunctionDlg::FormatTime(nLength));
        QCOMPARE(Panel().m_nPlayIcon, IDI_PAUSE_HOT);
        // The timer shows the time and moves the progress slider.
        QTRY_VERIFY_WITH_TIMEOUT(Panel().m_staticPlayTime.text() != QStringLiteral("00:00:00"),
                                 kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(Panel().m_sliderProgress.m_nPosition > 0, kWaitMs);

        // Pause and resume.
        Panel().m_btnPlay.click();
        QCOMPARE(Info(0).bPause, 1);
        QCOMPARE(Panel().m_nPlayIcon, IDI_PLAY_HOT);
        Panel().m_btnPlay.click();
        QCOMPARE(Info(0).bPause, 0);
        QCOMPARE(Panel().m_nPlayIcon, IDI_PAUSE_HOT);

        // Sound on at volume 100, then the volume slider to 0 turns it off.
        Panel().m_btnSound.click();
        QCOMPARE(Info(0).bSound, 1);
        QCOMPARE(Panel().m_nSoundIcon, IDI_SOUND_ON);
        QCOMPARE(Panel().m_sliderVolume.m_nPosition, 100);
        QTest::keyClick(&Panel().m_sliderVolume, Qt::Key_PageUp);
        Deliver();
        QCOMPARE(Info(0).nVolume, 90);
        QTest::keyClick(&Panel().m_sliderVolume, Qt::Key_Home);
        Deliver();
        QCOMPARE(Info(0).bSound, 0);

        // Rotation and fill.
        Panel().m_comboRotate.setCurrentIndex(2);
        emit Panel().m_comboRotate.activated(2);
        QCOMPARE(Info(0).nRotate, 2);
        Panel().m_checkFill.click();
        QVERIFY(!Panel().m_checkFill.isChecked());
        QCOMPARE(Info(0).bNoFill, 1);
        PostPrivateMessage(&Panel(), MSG_PLAYWND_CHANGED, 0, 0);
        Deliver();
        QCOMPARE(Panel().m_comboRotate.currentIndex(), 2);
        QVERIFY(!Panel().m_checkFill.isChecked());

        // Speed levels straight on the decode port.
        int32_t nLevel = 99;
        Panel().OnSpeedCommand(ID_SPEED_2X);
        QVERIFY(KX_PLAY_GetSpeed(Info(0).nPort, &nLevel) >= 0);
        QCOMPARE(nLevel, 1);
        Panel().OnSpeedCommand(ID_SPEED_1_8X);
        QVERIFY(KX_PLAY_GetSpeed(Info(0).nPort, &nLevel) >= 0);
        QCOMPARE(nLevel, -3);
        Panel().OnSpeedCommand(ID_SPEED_1X);
        QVERIFY(KX_PLAY_GetSpeed(Info(0).nPort, &nLevel) >= 0);
        QCOMPARE(nLevel, 0);

        // Seeking with the progress slider: to three quarters of the file.
        Panel().m_sliderProgress.SetPosition(750);
        SendPrivateMessage(&Panel(), MSG_SLIDER_MOVED, IDC_SLIDER_PROGRESS, 750);
        QTRY_VERIFY_WITH_TIMEOUT(fw.GetFilePlayTime() >= nLength * 750 / 1000 - 1, kWaitMs);

        // Stop: idle window, controls back to their start.
        Panel().m_btnStop.click();
        QCOMPARE(int(Info(0).nPlayType), int(kPlayNone));
        CheckIdleControls();
        QVERIFY(m_shown.isEmpty());
    }

    void switchingWindowsRefreshes() {
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strLongQf));
        Deliver();
        QVERIFY(Panel().m_staticTotalTime.text() != QStringLiteral("00:00:00"));
        Select(1);
        CheckIdleControls();
        Select(0);
        QCOMPARE(Panel().m_staticTotalTime.text(),
                 CFunctionDlg::FormatTime(GetFrameWork().GetFileLength()));
    }

    void endedPlayIsClosed() {
        Select(2);
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strShortQf));
        QCOMPARE(int(Info(2).nPlayType), int(kPlayFile));
        QTRY_VERIFY_WITH_TIMEOUT(int(Info(2).nPlayType) == int(kPlayNone), kWaitMs);
        QCOMPARE(int(Info(2).bPlayEnd), 0);
        Deliver();
        CheckIdleControls();
        const QImage img = m_pDlg->m_dlgPlayPannel.m_wndPlay[2].grab().toImage();
        QCOMPARE(img.pixelColor(3, 3), QColor(30, 30, 30));
    }

    void streamRecordAndSnapshot() {
        Select(3);
        const QString strAddress = QString::fromStdString(m_server->url(TestRtspServer::kH264));
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(strAddress, 0));
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(3), kWaitMs);
        QCOMPARE(int(Info(3).nPlayType), int(kPlayStream));
        Deliver();
        QCOMPARE(Panel().m_nPlayIcon, IDI_PLAY_HOT);
        QCOMPARE(Panel().m_staticTotalTime.text(), QStringLiteral("00:00:00"));
        // The speed menu is for files only.
        Panel().OnSpeed();
        QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->m_dlgPlayPannel.m_wndPlay[3].HasPicture(), kWaitMs);

        Panel().m_btnRecord.click();
        QCOMPARE(Info(3).bRecord, 1);
        QCOMPARE(Panel().m_nRecordIcon, IDI_RECORDING_HOT);
        QCOMPARE(m_shown.size(), 1);
        QVERIFY(m_shown[0].endsWith(QStringLiteral(".qf")));
        // Stopping shows no message.
        Panel().m_btnRecord.click();
        QCOMPARE(Info(3).bRecord, 0);
        QCOMPARE(Panel().m_nRecordIcon, IDI_RECORD_HOT);
        QCOMPARE(m_shown.size(), 1);
        QVERIFY(QFileInfo::exists(m_shown[0]));

        Panel().m_btnSnapshot.click();
        QCOMPARE(m_shown.size(), 2);
        QVERIFY(m_shown[1].endsWith(QStringLiteral(".jpg")));
        QVERIFY(QFileInfo(m_shown[1]).size() > 0);
        QFile::remove(m_shown[0]);
        QFile::remove(m_shown[1]);
    }

    void snapshotFailureIsReported_data() {
        QTest::addColumn<bool>("picture");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("text");
        QTest::newRow("no picture yet") << false << QString() << "抓拍失败：还没有画面！";
        QTest::newRow("folder missing") << true << "/nonexistent/brelso-snapshots"
                                        << "抓拍失败：保存图片的文件夹不存在！";
        // Nobody, not even root, creates files in /proc.
        QTest::newRow("not written") << true << "/proc"
                                     << "抓拍失败：图片无法写入";
    }
    void snapshotFailureIsReported() {
        QFETCH(bool, picture);
        QFETCH(QString, folder);
        QFETCH(QString, text);
        Select(1);
        if (picture) {
            QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strLongQf));
            QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->m_dlgPlayPannel.m_wndPlay[1].HasPicture(), kWaitMs);
        }
        GetFrameWork().m_strSnapPath = folder;
        Panel().m_btnSnapshot.click();
        GetFrameWork().m_strSnapPath.clear();
        QCOMPARE(m_shown.size(), 1);
        QVERIFY2(m_shown[0].startsWith(text), qPrintable(m_shown[0]));
    }

    void failedOpenShowsTheLogoAndIdleTimes() {
        Select(2);
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strLongQf));
        CPlayDlg& wnd = m_pDlg->m_dlgPlayPannel.m_wndPlay[2];
        QTRY_VERIFY_WITH_TIMEOUT(wnd.HasPicture(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(Panel().m_staticPlayTime.text() != QStringLiteral("00:00:00"),
                                 kWaitMs);
        QVERIFY(Panel().m_staticTotalTime.text() != QStringLiteral("00:00:00"));
        // Nothing listens on port 1 of this machine.
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(QStringLiteral("rtsp://127.0.0.1:1/x"), 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_shown, QStringList{QStringLiteral("打开网络流流失败！")},
                                  kWaitMs);
        Deliver();
        CheckIdleControls();
        const QImage img = wnd.grab().toImage();
        const QImage logo = BrelsoRes::LoadBitmapImage(IDB_LOGO);
        QCOMPARE(img.pixelColor(3, 3), QColor(30, 30, 30));
        QCOMPARE(img.pixelColor(img.width() / 2, img.height() / 2), logo.pixelColor(64, 64));
    }
};

QTEST_MAIN(TestCFunctionDlg)
#include "tst_cfunctiondlg.moc"
