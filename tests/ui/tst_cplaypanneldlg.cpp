// The video panel and its play windows: grid layout, current-window mark, maximise and
// restore, painting and the render targets handed to the play controller.
#include <QApplication>
#include <QtTest>
#include <thread>

#include "CFrameWork.h"
#include "CPlayPannelDlg.h"
#include "MessageSink.h"
#include "ResourceTable.h"

namespace {

void Press(QWidget* w, QEvent::Type type) {
    const QPointF pt(5, 5);
    QMouseEvent ev(type, pt, w->mapToGlobal(pt), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void DoubleClick(QWidget* w) {
    Press(w, QEvent::MouseButtonPress);
    Press(w, QEvent::MouseButtonDblClick);
}

}  // namespace

class TestCPlayPannelDlg : public QObject {
    Q_OBJECT

private:
    MessageSink* m_pSink = nullptr;
    CPlayPannelDlg* m_pPanel = nullptr;

    void Deliver() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
        }
    }

private slots:
    void init() {
        GetFrameWork().m_nCurIndex = 0;
        m_pSink = new MessageSink;
        m_pSink->resize(641, 481);
        m_pPanel = new CPlayPannelDlg;
        m_pPanel->Create(m_pSink);
        m_pSink->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pSink));
        m_pPanel->setGeometry(0, 0, 641, 481);
        Deliver();
        m_pSink->m_messages.clear();
    }
    void cleanup() {
        delete m_pSink;
        m_pSink = nullptr;
        m_pPanel = nullptr;
    }

    void layout_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("halfW");
        QTest::addColumn<int>("halfH");
        QTest::newRow("odd 641 x 481") << 641 << 481 << 320 << 240;
        QTest::newRow("even 640 x 480") << 640 << 480 << 320 << 240;
        QTest::newRow("odd 101 x 57") << 101 << 57 << 50 << 28;
        QTest::newRow("one pixel") << 1 << 1 << 0 << 0;
        QTest::newRow("main window panel") << 1000 << 597 << 500 << 298;
    }
    void layout() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, halfW);
        QFETCH(int, halfH);
        m_pPanel->resize(w, h);
        const QPoint origins[4] = {{0, 0}, {halfW, 0}, {0, halfH}, {halfW, halfH}};
        for (int i = 0; i < 4; ++i) {
            const CPlayDlg& wnd = m_pPanel->m_wndPlay[i];
            QCOMPARE(wnd.m_rcTile, QRect(origins[i], QSize(halfW, halfH)));
            QCOMPARE(wnd.m_rcFull, QRect(0, 0, w, h));
            QCOMPARE(wnd.geometry(), wnd.m_rcTile);
            QVERIFY(wnd.isVisible() || halfW == 0 || halfH == 0);
        }
        // With odd sizes the last column and row belong to no tile.
        QCOMPARE(m_pPanel->m_wndPlay[3].geometry().right() + 1, 2 * halfW);
        QCOMPARE(m_pPanel->m_wndPlay[3].geometry().bottom() + 1, 2 * halfH);
    }

    void startState() {
        CFrameWork& fw = GetFrameWork();
        QCOMPARE(fw.m_nCurIndex, 0);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(m_pPanel->m_wndPlay[i].m_nIndex, i);
            QCOMPARE(m_pPanel->m_wndPlay[i].m_bSelected, i == 0);
            QVERIFY(!m_pPanel->m_wndPlay[i].m_bMaximized);
            QCOMPARE(fw.m_stPlayInfo[i].hPlayWnd, m_pPanel->m_wndPlay[i].RenderTarget());
        }
    }

    void clickSelects() {
        CPlayDlg& wnd2 = m_pPanel->m_wndPlay[2];
        Press(&wnd2, QEvent::MouseButtonPress);
        QCOMPARE(GetFrameWork().m_nCurIndex, 2);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(m_pPanel->m_wndPlay[i].m_bSelected, i == 2);
        }
        // The window tells the panel, the panel tells its parent, both parameters 0.
        Deliver();
        QCOMPARE(m_pSink->Count(MSG_PLAYWND_CHANGED), 1);
        QCOMPARE(m_pSink->m_messages[0].wParam, uintptr_t(0));
        QCOMPARE(m_pSink->m_messages[0].lParam, intptr_t(0));
        // Clicking the current window again keeps it current and tells again.
        Press(&wnd2, QEvent::MouseButtonPress);
        Deliver();
        QCOMPARE(GetFrameWork().m_nCurIndex, 2);
        QVERIFY(wnd2.m_bSelected);
        QCOMPARE(m_pSink->Count(MSG_PLAYWND_CHANGED), 2);
    }

    void relayKeepsParameters() {
        PostPrivateMessage(m_pPanel, MSG_PLAYWND_CHANGED, 17, -4);
        Deliver();
        QCOMPARE(m_pSink->Count(MSG_PLAYWND_CHANGED), 1);
        QCOMPARE(m_pSink->m_messages[0].wParam, uintptr_t(17));
        QCOMPARE(m_pSink->m_messages[0].lParam, intptr_t(-4));
    }

    void maximiseAndRestore() {
        CPlayDlg& wnd2 = m_pPanel->m_wndPlay[2];
        DoubleClick(&wnd2);
        QVERIFY(wnd2.m_bSelected);
        QVERIFY(wnd2.m_bMaximized);
        QCOMPARE(wnd2.geometry(), QRect(0, 0, 641, 481));
        for (int i : {0, 1, 3}) {
            QVERIFY(m_pPanel->m_wndPlay[i].isHidden());
        }
        DoubleClick(&wnd2);
        QVERIFY(!wnd2.m_bMaximized);
        QCOMPARE(wnd2.geometry(), QRect(0, 240, 320, 240));
        for (int i = 0; i < 4; ++i) {
            QVERIFY(m_pPanel->m_wndPlay[i].isVisible());
        }
    }

    void resizeKeepsMaximised() {
        CPlayDlg& wnd1 = m_pPanel->m_wndPlay[1];
        DoubleClick(&wnd1);
        m_pPanel->resize(801, 601);
        QCOMPARE(wnd1.geometry(), QRect(0, 0, 801, 601));
        QVERIFY(wnd1.isVisible());
        for (int i : {0, 2, 3}) {
            QVERIFY(m_pPanel->m_wndPlay[i].isHidden());
        }
        DoubleClick(&wnd1);
        // The tiles follow the new size.
        QCOMPARE(wnd1.geometry(), QRect(400, 0, 400, 300));
        QCOMPARE(m_pPanel->m_wndPlay[3].geometry(), QRect(400, 300, 400, 300));
        for (int i = 0; i < 4; ++i) {
            QVERIFY(m_pPanel->m_wndPlay[i].isVisible());
        }
    }

    void paintsFrameAndLogo() {
        const QImage logo = BrelsoRes::LoadBitmapImage(IDB_LOGO);
        const QImage sel = m_pPanel->m_wndPlay[0].grab().toImage();
        const QImage other = m_pPanel->m_wndPlay[1].grab().toImage();
        QCOMPARE(sel.size(), QSize(320, 240));
        QCOMPARE(sel.pixelColor(0, 0), QColor(255, 0, 0));
        QCOMPARE(sel.pixelColor(319, 239), QColor(255, 0, 0));
        QCOMPARE(other.pixelColor(0, 0), QColor(0, 0, 0));
        QCOMPARE(other.pixelColor(319, 100), QColor(0, 0, 0));
        // Dark background and the logo at its own size in the client area's centre.
        QCOMPARE(other.pixelColor(2, 2), QColor(30, 30, 30));
        const int x0 = 1 + (318 - 128) / 2;
        const int y0 = 1 + (238 - 128) / 2;
        for (const QPoint pt : {QPoint(64, 64), QPoint(64, 20), QPoint(20, 64), QPoint(100, 90)}) {
            QCOMPARE(other.pixelColor(x0 + pt.x(), y0 + pt.y()), logo.pixelColor(pt));
        }
        QCOMPARE(other.pixelColor(x0 - 1, y0 + 64), QColor(30, 30, 30));
    }

    void smallWindowCutsLogo() {
        m_pPanel->resize(200, 160);  // tiles 100 x 80, client 98 x 78
        const QImage logo = BrelsoRes::LoadBitmapImage(IDB_LOGO);
        const QImage img = m_pPanel->m_wndPlay[3].grab().toImage();
        // Logo origin (1 - 15, 1 - 25): the client pixel (50, 40) shows logo pixel (64, 64).
        QCOMPARE(img.pixelColor(50, 40), logo.pixelColor(64, 64));
        QCOMPARE(img.pixelColor(1, 1), logo.pixelColor(15, 25));
    }

    void renderTargetShowsPictures() {
        CFrameWork& fw = GetFrameWork();
        CPlayDlg& wnd = m_pPanel->m_wndPlay[3];
        KX_PLAY_HWND target = fw.m_stPlayInfo[3].hPlayWnd;
        QVERIFY(target != nullptr);
        int32_t w = 0;
        int32_t h = 0;
        target->fnGetSize(target->pContext, &w, &h);
        QCOMPARE(w, 318);
        QCOMPARE(h, 238);
        // A striped BGRA picture handed over from another thread.
        std::vector<uint8_t> pixels(size_t(w) * h * 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &pixels[(size_t(y) * w + x) * 4];
                p[0] = x < w / 2 ? 200 : 10;  // B
                p[1] = 40;                    // G
                p[2] = x < w / 2 ? 10 : 220;  // R
                p[3] = 255;
            }
        }
        const KX_PLAY_PICTURE pic{pixels.data(), w * 4, w, h};
        std::thread([&] { target->fnPresent(target->pContext, &pic); }).join();
        QVERIFY(wnd.HasPicture());
        fw.m_stPlayInfo[3].nPlayType = kPlayFile;
        const QImage img = wnd.grab().toImage();
        fw.m_stPlayInfo[3].nPlayType = kPlayNone;
        QCOMPARE(img.pixelColor(10, 10), QColor(10, 40, 200));
        QCOMPARE(img.pixelColor(300, 200), QColor(220, 40, 10));
        QCOMPARE(img.pixelColor(0, 0), QColor(0, 0, 0));
        // Idle again: the logo, and the old picture is dropped.
        const QImage idle = wnd.grab().toImage();
        QCOMPARE(idle.pixelColor(10, 10), QColor(30, 30, 30));
        QVERIFY(!wnd.HasPicture());
    }

    void malformedPicturesIgnored() {
        CPlayDlg& wnd = m_pPanel->m_wndPlay[1];
        KX_PLAY_HWND target = wnd.RenderTarget();
        uint8_t px[16] = {};
        const KX_PLAY_PICTURE badStride{px, 4, 2, 2};
        const KX_PLAY_PICTURE noData{nullptr, 8, 2, 2};
        const KX_PLAY_PICTURE negative{px, 8, -2, 2};
        target->fnPresent(target->pContext, &badStride);
        target->fnPresent(target->pContext, &noData);
        target->fnPresent(target->pContext, &negative);
        target->fnPresent(target->pContext, nullptr);
        QVERIFY(!wnd.HasPicture());
    }

    void destroyingPanelClearsTargets() {
        delete m_pSink;
        m_pSink = nullptr;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(GetFrameWork().m_stPlayInfo[i].hPlayWnd, KX_PLAY_HWND(nullptr));
        }
        // cleanup() deletes nothing more.
        m_pSink = new MessageSink;
    }
};

QTEST_MAIN(TestCPlayPannelDlg)
#include "tst_cplaypanneldlg.moc"
