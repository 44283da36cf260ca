// The player's windows playing real sources: a live stream from a real RTSP server on this
// machine into window 3 and a ".qf" recording into window 1, opened through the toolbar the
// way the user does it, and everything closed with the main window.
#include <QApplication>
#include <QDir>
#include <QtTest>
#include <memory>

#include "CBrelsoPlayerDlg.h"
#include "CFrameWork.h"
#include "CURLInputDlg.h"
#include "EngineMedia.h"
#include "MessageBox.h"
#include "ResourceTable.h"
#include "TestMedia.h"
#include "TestRtspServer.h"
#include "UiTestLibraries.h"

using Brelso::Testing::TestRtspServer;

namespace {

// Upper bound for a source to show its first picture on a loaded machine.
constexpr int kPictureWaitMs = 30000;

int ColourCount(const QImage& img, const QRect& rc) {
    QSet<QRgb> colours;
    for (int y = rc.top(); y <= rc.bottom(); y += 2) {
        for (int x = rc.left(); x <= rc.right(); x += 2) {
            colours.insert(img.pixel(x, y));
        }
    }
    return int(colours.size());
}

void Deliver() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents();
    }
}

class ChangeCounter : public QObject {
public:
    explicit ChangeCounter(QObject* pTarget) { pTarget->installEventFilter(this); }
    int m_nChanged = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        m_nChanged += static_cast<int>(pEvent->type()) == MSG_PLAYWND_CHANGED ? 1 : 0;
        return false;
    }
};

}  // namespace

class TestPlayback : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestRtspServer> m_server;
    std::unique_ptr<Brelso::Testing::TempDir> m_media;
    QString m_strQf;
    QStringList m_shown;

    QString Address(const char* path) const { return QString::fromStdString(m_server->url(path)); }

    static void Select(CBrelsoPlayerDlg& dlg, int i) {
        QTest::mouseClick(&dlg.m_dlgPlayPannel.m_wndPlay[i], Qt::LeftButton, {}, QPoint(30, 30));
        Deliver();
        QCOMPARE(GetFrameWork().m_nCurIndex, i);
    }

private slots:
    void initTestCase() {
        UiTestLibraries::Init();
        m_server = std::make_unique<TestRtspServer>();
        m_server->addLiveMounts();
        QVERIFY2(m_server->start(), m_server->lastError().c_str());
        m_media = std::make_unique<Brelso::Testing::TempDir>();
        m_strQf = QString::fromStdString(m_media->file("recording.qf"));
        QVERIFY(EngineMedia::MakeQf(m_strQf, 4));
        UiMessageBox::SetInterceptor([this](const QString& strText, QMessageBox::StandardButtons) {
            m_shown << strText;
            return QMessageBox::Ok;
        });
    }
    void cleanupTestCase() {
        UiMessageBox::SetInterceptor(nullptr);
        for (int i = 0; i < 4; ++i) {
            GetFrameWork().ClosePlay(i);
        }
        GetFrameWork().Drain();
        m_server.reset();
        UiTestLibraries::Cleanup();
    }
    void init() { m_shown.clear(); }

    void streamAndFileInTwoWindows() {
        auto pDlg = std::make_unique<CBrelsoPlayerDlg>();
        CBrelsoPlayerDlg& dlg = *pDlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Deliver();
        ChangeCounter changes(&dlg.m_dlgFunction);
        CFrameWork& fw = GetFrameWork();

        // The live camera into window 3.
        Select(dlg, 3);
        QVERIFY(dlg.m_dlgMenu.OpenStreamInCurrent(Address(TestRtspServer::kH264), 0));
        QTRY_VERIFY_WITH_TIMEOUT(!fw.IsOpening(3), kPictureWaitMs);
        QCOMPARE(int(fw.m_stPlayInfo[3].nPlayType), int(kPlayStream));
        // The recording into window 1.
        Select(dlg, 1);
        QVERIFY(dlg.m_dlgMenu.OpenFileInCurrent(m_strQf));
        QCOMPARE(int(fw.m_stPlayInfo[1].nPlayType), int(kPlayFile));
        QVERIFY(m_shown.isEmpty());
        Deliver();
        // Two clicks and two opens each told the control panel.
        QCOMPARE(changes.m_nChanged, 4);

        CPlayDlg& wnd3 = dlg.m_dlgPlayPannel.m_wndPlay[3];
        CPlayDlg& wnd1 = dlg.m_dlgPlayPannel.m_wndPlay[1];
        QTRY_VERIFY_WITH_TIMEOUT(wnd3.HasPicture() && wnd1.HasPicture(), kPictureWaitMs);
        Deliver();

        const QImage img = dlg.grab().toImage();
        img.save(QStringLiteral("playing.png"));
        const QPoint org = dlg.m_dlgPlayPannel.pos();
        const QRect rc3 = wnd3.geometry().translated(org).adjusted(1, 1, -1, -1);
        const QRect rc1 = wnd1.geometry().translated(org).adjusted(1, 1, -1, -1);
        const QRect rc0 =
            dlg.m_dlgPlayPannel.m_wndPlay[0].geometry().translated(org).adjusted(1, 1, -1, -1);
        // Real pictures: many colours, and not the logo's dark background.
        QVERIFY2(ColourCount(img, rc3) > 20, "window 3 shows no picture");
        QVERIFY2(ColourCount(img, rc1) > 20, "window 1 shows no picture");
        QVERIFY(img.pixelColor(rc3.topLeft() + QPoint(3, 3)) != QColor(30, 30, 30));
        // Window 1 is current (red), window 3 no longer (black); window 0 still shows the logo.
        QCOMPARE(img.pixelColor(rc1.topLeft() - QPoint(1, 1)), QColor(255, 0, 0));
        QCOMPARE(img.pixelColor(rc3.topLeft() - QPoint(1, 1)), QColor(0, 0, 0));
        QCOMPARE(img.pixelColor(rc0.topLeft() + QPoint(3, 3)), QColor(30, 30, 30));
        const QImage logo = BrelsoRes::LoadBitmapImage(IDB_LOGO);
        const QPoint logo0(rc0.left() + (rc0.width() - 128) / 2,
                           rc0.top() + (rc0.height() - 128) / 2);
        QCOMPARE(img.pixelColor(logo0 + QPoint(64, 64)), logo.pixelColor(64, 64));

        // A failed open in window 1 closes its file first and leaves window 3 playing.
        QVERIFY(dlg.m_dlgMenu.OpenStreamInCurrent(QStringLiteral("rtsp://127.0.0.1:1/none"), 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_shown, QStringList{QStringLiteral("打开网络流流失败！")},
                                  kPictureWaitMs);
        Deliver();
        QCOMPARE(int(fw.m_stPlayInfo[1].nPlayType), int(kPlayNone));
        QCOMPARE(int(fw.m_stPlayInfo[3].nPlayType), int(kPlayStream));
        const QImage after = dlg.grab().toImage();
        QCOMPARE(after.pixelColor(rc1.topLeft() + QPoint(3, 3)), QColor(30, 30, 30));
        QCOMPARE(after.pixelColor(rc1.topLeft() + QPoint(rc1.width() / 2, rc1.height() / 2)),
                 logo.pixelColor(64, 64));

        // Closing the main window closes every play.
        pDlg.reset();
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(int(fw.m_stPlayInfo[i].nPlayType), int(kPlayNone));
            QCOMPARE(int(fw.m_stPlayInfo[i].lRealHandle), -1);
            QCOMPARE(int(fw.m_stPlayInfo[i].nPort), -1);
            QVERIFY(fw.m_stPlayInfo[i].hPlayWnd == nullptr);
        }
    }

    void addressWithSpacesOpens() {
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Deliver();
        Select(dlg, 2);
        const QString strTyped =
            QStringLiteral("  ") + Address(TestRtspServer::kH264) + QStringLiteral("  ");
        // The controller itself refuses the address with the spaces around it ...
        QVERIFY(!GetFrameWork().OpenStream(strTyped, 0));
        // ... so the dialog hands over the address it checked.
        CURLInputDlg input(&dlg);
        input.AddressEdit()->setText(strTyped);
        input.accept();
        QCOMPARE(input.result(), int(QDialog::Accepted));
        QVERIFY(dlg.m_dlgMenu.OpenStreamInCurrent(input.m_strAddress, input.m_bTcp));
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(2), kPictureWaitMs);
        QCOMPARE(int(GetFrameWork().m_stPlayInfo[2].nPlayType), int(kPlayStream));
        QVERIFY(m_shown.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_dlgPlayPannel.m_wndPlay[2].HasPicture(), kPictureWaitMs);
        // Opening again in the same window closes the first stream before the second.
        QVERIFY(dlg.m_dlgMenu.OpenStreamInCurrent(Address(TestRtspServer::kH264), 1));
        QTRY_VERIFY_WITH_TIMEOUT(!GetFrameWork().IsOpening(2), kPictureWaitMs);
        QCOMPARE(int(GetFrameWork().m_stPlayInfo[2].nPlayType), int(kPlayStream));
        for (int i : {0, 1, 3}) {
            QCOMPARE(int(GetFrameWork().m_stPlayInfo[i].nPlayType), int(kPlayNone));
        }
    }
};

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
