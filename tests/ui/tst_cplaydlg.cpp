// The play windows while sources come and go: a stream being opened against a camera that
// never answers leaves the window thread free (the other windows go on playing), shows
// "正在连接…", and its late result is closed when the window was closed or given something
// else meanwhile.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>
#include <memory>

#include "CBrelsoPlayerDlg.h"
#include "CFrameWork.h"
#include "EngineMedia.h"
#include "MessageBox.h"
#include "PlayerSettings.h"
#include "SilentRtspListener.h"
#include "StartOptions.h"
#include "TestMedia.h"
#include "TestRtspServer.h"
#include "UiTestLibraries.h"

using Brelso::Testing::TestRtspServer;
using kx::sdk::testing::SilentRtspListener;

namespace {

// Upper bound for anything that waits on a loaded machine.
constexpr int kWaitMs = 30000;

void Deliver() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents();
    }
}

}  // namespace

class TestCPlayDlg : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestRtspServer> m_server;
    std::unique_ptr<SilentRtspListener> m_silent;
    std::unique_ptr<Brelso::Testing::TempDir> m_media;
    std::unique_ptr<CBrelsoPlayerDlg> m_pDlg;
    QString m_strQf;
    QStringList m_shown;

    CPlayDlg& Wnd(int i) { return m_pDlg->m_dlgPlayPannel.m_wndPlay[i]; }
    static PlayWndInfo& Info(int i) { return GetFrameWork().m_stPlayInfo[i]; }
    QString Silent() const { return QString::fromStdString(m_silent->url("/camera")); }
    QString Live() const { return QString::fromStdString(m_server->url(TestRtspServer::kH264)); }

    static QString SettingsFile() {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brelso"),
                         QStringLiteral("BrelsoPlayer"))
            .fileName();
    }

    void Select(int i) {
        QTest::mouseClick(&Wnd(i), Qt::LeftButton, {}, QPoint(30, 30));
        Deliver();
        QCOMPARE(GetFrameWork().m_nCurIndex, i);
    }

private slots:
    void initTestCase() {
        // Settings go to a test folder of their own, never the user's.
        QStandardPaths::setTestModeEnabled(true);
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        QFile::remove(SettingsFile());
        UiTestLibraries::Init();
        m_server = std::make_unique<TestRtspServer>();
        m_server->addLiveMounts();
        QVERIFY2(m_server->start(), m_server->lastError().c_str());
        m_silent = std::make_unique<SilentRtspListener>();
        QVERIFY(m_silent->ok());
        m_media = std::make_unique<Brelso::Testing::TempDir>();
        m_strQf = QString::fromStdString(m_media->file("recording.qf"));
        // Long enough to play on while an open waits for a silent camera.
        QVERIFY(EngineMedia::MakeQf(m_strQf, 12));
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
    // Destroying the main window closes every play and waits for the stream worker.
    void cleanup() { m_pDlg.reset(); }

    void openThatWaitsLeavesTheOtherWindowsPlaying() {
        Select(1);
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Live(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(1).ShownPictures() > 0, kWaitMs);

        Select(0);
        const QImage idle = Wnd(0).grab().toImage();
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Silent(), 0));
        QVERIFY(GetFrameWork().IsOpening(0));
        QCOMPARE(Wnd(0).OverlayText(), QStringLiteral("正在连接…"));
        QTRY_VERIFY_WITH_TIMEOUT(m_silent->connections() > 0, kWaitMs);
        // The camera answers nothing; meanwhile window 1 keeps getting its pictures shown.
        const int nShown = Wnd(1).ShownPictures();
        QTRY_VERIFY_WITH_TIMEOUT(
            Wnd(1).ShownPictures() > nShown + 2 || !GetFrameWork().IsOpening(0), kWaitMs);
        QVERIFY2(GetFrameWork().IsOpening(0), "the window thread stood still while opening");
        // The notice is drawn over the idle picture.
        Deliver();
        QVERIFY(Wnd(0).grab().toImage() != idle);
        QCOMPARE(Info(0).nPlayType.load(), int32_t(kPlayNone));
        // For the record (no threshold): the longest pause of window 1 during the wait.
        QElapsedTimer sincePicture;
        sincePicture.start();
        qint64 llLongestMs = 0;
        int nLast = Wnd(1).ShownPictures();
        while (GetFrameWork().IsOpening(0)) {
            QTest::qWait(5);
            if (Wnd(1).ShownPictures() != nLast) {
                nLast = Wnd(1).ShownPictures();
                llLongestMs = std::max(llLongestMs, sincePicture.restart());
            }
        }
        qInfo("longest pause of another window's pictures while an open waited: %lld ms",
              llLongestMs);

        // A silent camera counts as started after the wait: the window then plays it.
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(0), kWaitMs);
        QCOMPARE(Info(0).nPlayType.load(), int32_t(kPlayStream));
        QVERIFY(Wnd(0).OverlayText() != QStringLiteral("正在连接…"));
        QVERIFY(m_shown.isEmpty());
    }

    void recordingStartedWhileAnotherWindowConnects() {
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)));
        Select(1);
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Live(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(1).ShownPictures() > 0, kWaitMs);
        Select(0);
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Silent(), 0));
        Select(1);
        // The stream library is held by the open: the start comes when it is free.
        m_pDlg->m_dlgFunction.m_btnRecord.click();
        QVERIFY(GetFrameWork().IsOpening(0));
        QVERIFY(m_shown.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_shown.size(), 1, kWaitMs);
        QVERIFY(m_shown[0].endsWith(QStringLiteral(".qf")));
        QCOMPARE(Info(1).bRecord, 1);
        m_pDlg->m_dlgFunction.m_btnRecord.click();
        QCOMPARE(Info(1).bRecord, 0);
        QVERIFY(QFileInfo::exists(m_shown[0]));
        QFile::remove(m_shown[0]);
    }

    void lateResultOfAClosedWindowIsClosed() {
        Select(2);
        const size_t nBefore = m_silent->connections();
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Silent(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(m_silent->connections() > nBefore, kWaitMs);
        // The stop button while it connects.
        m_pDlg->m_dlgFunction.m_btnStop.click();
        QVERIFY(!GetFrameWork().IsOpening(2));
        QVERIFY(Wnd(2).OverlayText().isEmpty());
        // The late result is closed, not shown: its connection goes away, the window stays idle.
        QTRY_VERIFY_WITH_TIMEOUT(m_silent->openConnections() == 0, kWaitMs);
        Deliver();
        QCOMPARE(Info(2).nPlayType.load(), int32_t(kPlayNone));
        QVERIFY(m_shown.isEmpty());
    }

    void deadFeedIsMarkedUntilPicturesResume() {
        Select(0);
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(Live(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).ShownPictures() > 0, kWaitMs);
        Select(1);
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strQf));
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(1).ShownPictures() > 0, kWaitMs);
        QCOMPARE(GetFrameWork().Pause(), 1);
        QVERIFY(Wnd(0).OverlayText().isEmpty());

        // The pictures of the stream stop reaching window 0.
        const int32_t nPort = Info(0).nPort;
        QVERIFY(KX_PLAY_SetPlayWnd(nPort, nullptr) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).OverlayText().startsWith(QStringLiteral("无信号 00:00:0")),
                                 kWaitMs);
        // The picture stands still now, so two views differ only in the notice's time.
        const QImage first = Wnd(0).grab().toImage();
        const QString strFirst = Wnd(0).OverlayText();
        QVERIFY(strFirst >= QStringLiteral("无信号 00:00:03"));
        // It counts on every second, and the paused file is not a dead feed.
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).OverlayText() > strFirst, kWaitMs);
        QVERIFY(Wnd(1).OverlayText().isEmpty());
        QVERIFY(Wnd(0).grab().toImage() != first);

        // Pictures again: the notice goes with the first one.
        const int nShown = Wnd(0).ShownPictures();
        QVERIFY(KX_PLAY_SetPlayWnd(nPort, Wnd(0).RenderTarget()) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).ShownPictures() > nShown, kWaitMs);
        QVERIFY(Wnd(0).OverlayText().isEmpty());
    }

    void commandLineSourcesOpenInTheirWindows() {
        // A recording, a camera over TCP and a camera that is gone, from the command line.
        QString strError;
        const std::optional<StartOptions::Options> options =
            StartOptions::Parse({QStringLiteral("BrelsoPlayer"), QStringLiteral("--open"), m_strQf,
                                 QStringLiteral("--open-tcp"), Live(), QStringLiteral("--open"),
                                 QStringLiteral("rtsp://127.0.0.1:1/gone")},
                                &strError);
        QVERIFY2(options.has_value(), qPrintable(strError));
        Select(3);
        m_pDlg->OpenSession(options->session, true);
        // Window 1 is current again, as after any start.
        QCOMPARE(GetFrameWork().m_nCurIndex, 0);
        QVERIFY(Wnd(0).m_bSelected && !Wnd(3).m_bSelected);
        QCOMPARE(Info(0).nPlayType.load(), int32_t(kPlayFile));
        QCOMPARE(GetFrameWork().m_strSource[0], m_strQf);
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(1) && !GetFrameWork().IsOpening(2),
                                 kWaitMs);
        QCOMPARE(Info(1).nPlayType.load(), int32_t(kPlayStream));
        QCOMPARE(GetFrameWork().m_bSourceTcp[1], 1);
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).ShownPictures() > 0 && Wnd(1).ShownPictures() > 0, kWaitMs);
        // The camera that is gone leaves its window idle, without a message box.
        QCOMPARE(Info(2).nPlayType.load(), int32_t(kPlayNone));
        QCOMPARE(Info(3).nPlayType.load(), int32_t(kPlayNone));
        QVERIFY(m_shown.isEmpty());
    }

    void windowsComeBackAfterARestart() {
        // A camera with a password in window 0, a recording in window 1, window 3 current.
        QString strLive = Live();
        strLive.replace(QStringLiteral("rtsp://"), QStringLiteral("rtsp://viewer:s3cr:et@"));
        Select(0);
        QVERIFY(m_pDlg->m_dlgMenu.OpenStreamInCurrent(strLive, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(0), kWaitMs);
        QCOMPARE(Info(0).nPlayType.load(), int32_t(kPlayStream));
        Select(1);
        QVERIFY(m_pDlg->m_dlgMenu.OpenFileInCurrent(m_strQf));
        Select(3);
        m_pDlg.reset();

        // The settings file knows the camera, but not its password.
        QFile file(SettingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("viewer@127.0.0.1"));
        QVERIFY2(!text.contains("s3cr"), text.constData());
        // A camera that is gone by the next start, in window 2.
        PlayerSettings::Session session = PlayerSettings::LoadSession();
        session.windows[2] = {PlayerSettings::SourceType::Stream,
                              QStringLiteral("rtsp://127.0.0.1:1/gone"), 0};
        PlayerSettings::SaveSession(session);

        GetFrameWork().m_nCurIndex = 0;
        m_pDlg = std::make_unique<CBrelsoPlayerDlg>();
        m_pDlg->RestoreSession();
        m_pDlg->show();
        QCOMPARE(GetFrameWork().m_nCurIndex, 3);
        QVERIFY(Wnd(3).m_bSelected && !Wnd(0).m_bSelected);
        QCOMPARE(Info(1).nPlayType.load(), int32_t(kPlayFile));
        QVERIFY(GetFrameWork().IsOpening(0));
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(0) && !GetFrameWork().IsOpening(2),
                                 kWaitMs);
        // Without a secret store the camera comes back without its password.
        QCOMPARE(Info(0).nPlayType.load(), int32_t(kPlayStream));
        QCOMPARE(GetFrameWork().m_strSource[0], PlayerSettings::WithoutPassword(strLive));
        QCOMPARE(GetFrameWork().m_bSourceTcp[0], 1);
        QTRY_VERIFY_WITH_TIMEOUT(Wnd(0).ShownPictures() > 0, kWaitMs);
        // The camera that is gone leaves its window idle, without a message.
        QCOMPARE(Info(2).nPlayType.load(), int32_t(kPlayNone));
        QVERIFY(m_shown.isEmpty());
    }
};

QTEST_MAIN(TestCPlayDlg)
#include "tst_cplaydlg.moc"
