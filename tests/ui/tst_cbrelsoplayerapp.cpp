// The application start: both libraries started in order, the failure paths that end the
// program without a window, and the clean-up after the main window closed.
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include "CBrelsoPlayerApp.h"
#include "CBrelsoPlayerDlg.h"
#include "CFrameWork.h"
#include "KXPlaySdk.h"
#include "KXRtspSdk.h"
#include "MessageBox.h"

namespace {

// What the start asked of the libraries, in order.
QStringList g_calls;
int32_t g_nNetInitResult = 1;
int32_t g_nPlayInitResult = 1;

int32_t FakeNetInit(int32_t a, int32_t b, int32_t c) {
    g_calls << QStringLiteral("net init %1 %2 %3").arg(a).arg(b).arg(c);
    return g_nNetInitResult != 0 ? KX_NET_Init(a, b, c) : 0;
}
int32_t FakePlayInit(int32_t a) {
    g_calls << QStringLiteral("play init %1").arg(a);
    return g_nPlayInitResult != 0 ? KX_PLAY_Init(a) : 0;
}
void FakeNetCleanup() {
    g_calls << QStringLiteral("net cleanup");
    KX_NET_Cleanup();
}
void FakePlayCleanup() {
    g_calls << QStringLiteral("play cleanup");
    KX_PLAY_Cleanup();
}

}  // namespace

class TestCBrelsoPlayerApp : public QObject {
    Q_OBJECT

private:
    CBrelsoPlayerApp* App() { return static_cast<CBrelsoPlayerApp*>(qApp); }

    // Runs the start; returns the exit code and whether the main window ran (a zero timer
    // only fires inside the window's event loop, which it then closes).
    int Run(bool& bWindowRan) {
        g_calls.clear();
        bWindowRan = false;
        QTimer::singleShot(0, [&bWindowRan] {
            auto* pDlg = qobject_cast<CBrelsoPlayerDlg*>(QApplication::activeModalWidget());
            bWindowRan = pDlg != nullptr;
            if (pDlg != nullptr) {
                pDlg->close();
            }
        });
        App()->SetLibraryCalls({&FakeNetInit, &FakePlayInit, &FakeNetCleanup, &FakePlayCleanup});
        const int nResult = App()->InitInstance();
        QCoreApplication::processEvents();
        return nResult;
    }

private slots:
    void initTestCase() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("BrelsoPlayer"));
        UiMessageBox::SetInterceptor(
            [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Ok; });
    }
    void cleanupTestCase() { UiMessageBox::SetInterceptor(nullptr); }

    // Qt's own buttons and dialogs in the interface's language.
    void qtDialogsSpeakChinese() {
        QMessageBox box(QMessageBox::NoIcon, QString(), QString(),
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    }

    void streamLibraryFails() {
        g_nNetInitResult = 0;
        g_nPlayInitResult = 1;
        bool bWindowRan = false;
        QCOMPARE(Run(bWindowRan), 1);
        QVERIFY(!bWindowRan);
        QCOMPARE(g_calls, QStringList{QStringLiteral("net init 0 0 0")});
    }

    void decodeLibraryFails() {
        g_nNetInitResult = 1;
        g_nPlayInitResult = 0;
        bool bWindowRan = false;
        QCOMPARE(Run(bWindowRan), 1);
        QVERIFY(!bWindowRan);
        QCOMPARE(g_calls,
                 (QStringList{"net init 0 0 0", "play init 0", "net cleanup", "play cleanup"}));
        // The stream library really is released.
        QCOMPARE(KX_NET_Login("127.0.0.1", 554, "", ""), -1);
    }

    void normalRun() {
        g_nNetInitResult = 1;
        g_nPlayInitResult = 1;
        bool bWindowRan = false;
        QCOMPARE(Run(bWindowRan), 0);
        QVERIFY(bWindowRan);
        QCOMPARE(g_calls,
                 (QStringList{"net init 0 0 0", "play init 0", "net cleanup", "play cleanup"}));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(int(GetFrameWork().m_stPlayInfo[i].nPlayType), int(kPlayNone));
        }
    }
};

int main(int argc, char** argv) {
    // The start restores what the settings remember: the test's own, empty settings.
    QStandardPaths::setTestModeEnabled(true);
    CBrelsoPlayerApp app(argc, argv);
    TestCBrelsoPlayerApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cbrelsoplayerapp.moc"
