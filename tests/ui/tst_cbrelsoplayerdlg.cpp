// The main window: its three children stacked and re-placed on every resize, the relay of
// MSG_PLAYWND_CHANGED to the control panel, the question before quitting, the window menu and
// what the whole window shows.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "CAboutDlg.h"
#include "CBrelsoPlayerDlg.h"
#include "CFrameWork.h"
#include "DialogUnits.h"
#include "MessageBox.h"
#include "ResourceTable.h"
#include "UiTestLibraries.h"

namespace {

// Records the private messages and resize events one widget receives.
class EventRecorder : public QObject {
public:
    explicit EventRecorder(QObject* pTarget) { pTarget->installEventFilter(this); }
    std::vector<std::pair<uintptr_t, intptr_t>> m_changed;
    int m_nResizes = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (static_cast<int>(pEvent->type()) == MSG_PLAYWND_CHANGED) {
            const auto* pMsg = static_cast<CPrivateMessage*>(pEvent);
            m_changed.emplace_back(pMsg->WParam(), pMsg->LParam());
        } else if (pEvent->type() == QEvent::Resize) {
            ++m_nResizes;
        }
        return false;
    }
};

void Deliver() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents();
    }
}

}  // namespace

class TestCBrelsoPlayerDlg : public QObject {
    Q_OBJECT

private:
    QStringList m_shown;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;

    void CheckStacked(const CBrelsoPlayerDlg& dlg) {
        const int w = dlg.width();
        const int h = dlg.height();
        const int hMenu = DialogUnits::ToPixelsY(23);
        const int hFunction = DialogUnits::ToPixelsY(53);
        QCOMPARE(dlg.m_dlgMenu.geometry(), QRect(0, 0, w, hMenu));
        QCOMPARE(dlg.m_dlgFunction.geometry(), QRect(0, h - hFunction, w, hFunction));
        QCOMPARE(dlg.m_dlgPlayPannel.geometry(), QRect(0, hMenu, w, h - hMenu - hFunction));
    }

private slots:
    void initTestCase() { UiTestLibraries::Init(); }
    void cleanupTestCase() { UiTestLibraries::Cleanup(); }
    void init() {
        m_shown.clear();
        m_answer = QMessageBox::Ok;
        GetFrameWork().m_nCurIndex = 0;
        UiMessageBox::SetInterceptor(
            [this](const QString& strText, QMessageBox::StandardButtons b) {
                m_shown << strText;
                return (b & m_answer) ? m_answer : QMessageBox::Ok;
            });
    }
    void cleanup() { UiMessageBox::SetInterceptor(nullptr); }

    void startLayout() {
        CBrelsoPlayerDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("岚禾科技流媒体播放器"));
        QCOMPARE(dlg.size(), QSize(1000, 720));
        QCOMPARE(dlg.pos(), QPoint(0, 0));
        QVERIFY(!dlg.windowIcon().isNull());
        CheckStacked(dlg);
        QVERIFY(dlg.m_dlgMenu.parentWidget() == &dlg);
        QVERIFY(dlg.m_dlgFunction.parentWidget() == &dlg);
        QVERIFY(dlg.m_dlgPlayPannel.parentWidget() == &dlg);
    }

    void resizeReplacesChildren_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("wider") << QSize(1280, 800);
        QTest::newRow("odd") << QSize(999, 701);
        QTest::newRow("smaller") << QSize(700, 400);
    }
    void resizeReplacesChildren() {
        QFETCH(QSize, size);
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Deliver();
        EventRecorder menu(&dlg.m_dlgMenu);
        EventRecorder function(&dlg.m_dlgFunction);
        EventRecorder panel(&dlg.m_dlgPlayPannel);
        dlg.resize(size);
        Deliver();
        CheckStacked(dlg);
        // Each child is told to lay out, also the two whose size may stay.
        QVERIFY(menu.m_nResizes >= 1);
        QVERIFY(function.m_nResizes >= 1);
        QVERIFY(panel.m_nResizes >= 1);
        // The panel's tiles follow.
        const int halfW = dlg.m_dlgPlayPannel.width() / 2;
        const int halfH = dlg.m_dlgPlayPannel.height() / 2;
        QCOMPARE(dlg.m_dlgPlayPannel.m_wndPlay[3].geometry(), QRect(halfW, halfH, halfW, halfH));
        // The link stays 10 pixels from the right edge.
        QCOMPARE(dlg.m_dlgMenu.m_link.geometry().right(), size.width() - 1 - 10);
    }

    void relaysPlayWindowChanged() {
        CBrelsoPlayerDlg dlg;
        EventRecorder function(&dlg.m_dlgFunction);
        PostPrivateMessage(&dlg, MSG_PLAYWND_CHANGED, 3, 77);
        Deliver();
        QCOMPARE(function.m_changed.size(), size_t(1));
        QCOMPARE(function.m_changed[0].first, uintptr_t(3));
        QCOMPARE(function.m_changed[0].second, intptr_t(77));
    }

    void clickReachesControlPanel() {
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Deliver();
        EventRecorder function(&dlg.m_dlgFunction);
        QTest::mouseClick(&dlg.m_dlgPlayPannel.m_wndPlay[3], Qt::LeftButton, {}, QPoint(20, 20));
        Deliver();
        QCOMPARE(GetFrameWork().m_nCurIndex, 3);
        QCOMPARE(function.m_changed.size(), size_t(1));
        QCOMPARE(function.m_changed[0].first, uintptr_t(0));
        QCOMPARE(function.m_changed[0].second, intptr_t(0));
    }

    void quitAsksFirst() {
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        m_answer = QMessageBox::Cancel;
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(m_shown, QStringList{QStringLiteral("确定退出本程序吗?")});
        QVERIFY(dlg.isVisible());
        m_answer = QMessageBox::Ok;
        dlg.close();
        QCOMPARE(m_shown.size(), 2);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void windowMenuHasAbout() {
        CBrelsoPlayerDlg dlg;
        const QList<QAction*> actions = dlg.SystemMenu()->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), BrelsoRes::LoadStringResource(IDS_ABOUTBOX));
        QCOMPARE(actions[1]->data().toInt(), 16);
    }

    void aboutBox() {
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // The window menu's command 16 runs the about box modally; its OK button closes it.
        QStringList texts;
        QString strTitle;
        QTimer::singleShot(0, [&] {
            auto* pAbout = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (pAbout == nullptr) {
                return;
            }
            strTitle = pAbout->windowTitle();
            for (const QLabel* pLabel : pAbout->findChildren<QLabel*>()) {
                texts << pLabel->text();
            }
            pAbout->findChild<QPushButton*>()->click();
        });
        dlg.SystemMenu()->actions().at(1)->trigger();
        QCOMPARE(strTitle, QStringLiteral("关于 BrelsoPlayer"));
        QVERIFY(texts.contains(QStringLiteral("BrelsoPlayer 1.0 版")));
        QVERIFY(dlg.isVisible());
        CAboutDlg about;
        QCOMPARE(about.size(), DialogUnits::ToPixels(QSize(235, 55)));
        const QLabel* pIcon = about.findChildren<QLabel*>().at(0);
        QVERIFY(!pIcon->pixmap().isNull());
    }

    void screenshot() {
        CBrelsoPlayerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Deliver();
        const QImage img = dlg.grab().toImage();
        img.save(QStringLiteral("main_window.png"));
        QCOMPARE(img.size(), QSize(1000, 720));
        const QRect rcPanel = dlg.m_dlgPlayPannel.geometry();
        // Window 0 is current: red frame at its corner; window 1 black.
        QCOMPARE(img.pixelColor(rcPanel.topLeft()), QColor(255, 0, 0));
        const QRect rc1 = dlg.m_dlgPlayPannel.m_wndPlay[1].geometry().translated(rcPanel.topLeft());
        QCOMPARE(img.pixelColor(rc1.topLeft()), QColor(0, 0, 0));
        // Every window shows the logo centred on the dark background.
        const QImage logo = BrelsoRes::LoadBitmapImage(IDB_LOGO);
        for (int i = 0; i < 4; ++i) {
            const QRect rc =
                dlg.m_dlgPlayPannel.m_wndPlay[i].geometry().translated(rcPanel.topLeft());
            const QRect rcClient = rc.adjusted(1, 1, -1, -1);
            const QPoint logoAt(rcClient.left() + (rcClient.width() - 128) / 2,
                                rcClient.top() + (rcClient.height() - 128) / 2);
            QCOMPARE(img.pixelColor(logoAt + QPoint(64, 64)), logo.pixelColor(64, 64));
            QCOMPARE(img.pixelColor(logoAt + QPoint(10, 64)), logo.pixelColor(10, 64));
            QCOMPARE(img.pixelColor(rcClient.topLeft() + QPoint(3, 3)), QColor(30, 30, 30));
        }
        // The toolbar is drawn: its icons and texts give it more than one colour.
        const QRect rcMenu = dlg.m_dlgMenu.geometry();
        QSet<QRgb> colours;
        for (int x = 0; x < 160; ++x) {
            for (int y = 0; y < rcMenu.height(); ++y) {
                colours.insert(img.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 3);
    }
};

QTEST_MAIN(TestCBrelsoPlayerDlg)
#include "tst_cbrelsoplayerdlg.moc"
