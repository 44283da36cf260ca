// The toolbar: its controls, the link kept at the right edge, and the messages of failed
// opens.
#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "CFrameWork.h"
#include "CMenuDlg.h"
#include "CURLInputDlg.h"
#include "DialogUnits.h"
#include "MessageBox.h"
#include "MessageSink.h"
#include "UiTestLibraries.h"

class TestCMenuDlg : public QObject {
    Q_OBJECT

private:
    QStringList m_shown;
    MessageSink* m_pSink = nullptr;
    CMenuDlg* m_pMenu = nullptr;

private slots:
    void initTestCase() { UiTestLibraries::Init(); }
    void cleanupTestCase() {
        GetFrameWork().Drain();
        UiTestLibraries::Cleanup();
    }
    void init() {
        m_shown.clear();
        UiMessageBox::SetInterceptor([this](const QString& strText, QMessageBox::StandardButtons) {
            m_shown << strText;
            return QMessageBox::Ok;
        });
        m_pSink = new MessageSink;
        m_pSink->resize(1000, 100);
        m_pMenu = new CMenuDlg;
        m_pMenu->Create(m_pSink);
        m_pSink->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pSink));
        QCoreApplication::sendPostedEvents();
        m_pSink->m_messages.clear();
    }
    void cleanup() {
        delete m_pSink;
        UiMessageBox::SetInterceptor(nullptr);
        for (int i = 0; i < 4; ++i) {
            GetFrameWork().ClosePlay(i);
        }
    }

    void controls() {
        QCOMPARE(m_pMenu->m_btnOpenStream.text(), QStringLiteral("打开流"));
        QCOMPARE(m_pMenu->m_btnOpenFile.text(), QStringLiteral("打开文件"));
        QCOMPARE(m_pMenu->m_btnOpenStream.geometry(), DialogUnits::ToPixels(0, 0, 50, 22));
        QCOMPARE(m_pMenu->m_btnOpenFile.geometry(), DialogUnits::ToPixels(49, 0, 50, 22));
        QCOMPARE(m_pMenu->m_label.text(), QStringLiteral("岚禾视讯："));
        for (CButtonST* pBtn : {&m_pMenu->m_btnOpenStream, &m_pMenu->m_btnOpenFile}) {
            QVERIFY(pBtn->HasIcon(0));
            QVERIFY(!pBtn->HasIcon(1));
            QCOMPARE(pBtn->GetColor(CButtonST::BTN_BK_HOT), QColor(135, 200, 250));
            const QColor clrFace = QApplication::palette().color(QPalette::Button);
            QCOMPARE(pBtn->GetColor(CButtonST::BTN_BK_NORMAL), clrFace);
            QCOMPARE(pBtn->GetColor(CButtonST::BTN_BK_FOCUS), clrFace);
        }
        QCOMPARE(m_pMenu->m_link.Target(), CMenuDlg::kMakerAddress);
        QCOMPARE(m_pMenu->m_link.text(), CMenuDlg::kMakerAddress);
        QVERIFY(m_pMenu->m_link.font().underline());
    }

    void fileFilterHasThreeEntries() {
        const QStringList entries = CMenuDlg::kFileFilter.split(QStringLiteral(";;"));
        QCOMPARE(entries, (QStringList{QStringLiteral("Brelso Files(*.qf)"),
                                       QStringLiteral("AVI Files(*.avi)"),
                                       QStringLiteral("All Files(*.*)")}));
    }

    void linkKeepsToRightEdge_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("wide") << 1400;
        QTest::newRow("narrow") << 700;
        QTest::newRow("odd") << 1001;
    }
    void linkKeepsToRightEdge() {
        QFETCH(int, width);
        const int nGap = m_pMenu->m_link.geometry().left() - m_pMenu->m_label.geometry().left();
        const QRect rcStream = m_pMenu->m_btnOpenStream.geometry();
        const QRect rcFile = m_pMenu->m_btnOpenFile.geometry();
        m_pMenu->resize(width, m_pMenu->height());
        QCOMPARE(m_pMenu->m_link.geometry().right(), width - 1 - 10);
        QCOMPARE(m_pMenu->m_link.geometry().left() - m_pMenu->m_label.geometry().left(), nGap);
        QCOMPARE(m_pMenu->m_label.geometry().top(), m_pMenu->m_link.geometry().top());
        QCOMPARE(m_pMenu->m_btnOpenStream.geometry(), rcStream);
        QCOMPARE(m_pMenu->m_btnOpenFile.geometry(), rcFile);
    }

    void failedStreamOpenReports() {
        GetFrameWork().m_nCurIndex = 2;
        // Nothing listens on port 1 of this machine: the open starts and fails later.
        QVERIFY(m_pMenu->OpenStreamInCurrent(QStringLiteral("rtsp://127.0.0.1:1/none"), 0));
        QTRY_COMPARE(m_shown, QStringList{QStringLiteral("打开网络流流失败！")});
        QVERIFY(!GetFrameWork().IsOpening(2));
        QCOMPARE(int(GetFrameWork().m_stPlayInfo[2].nPlayType), int(kPlayNone));
        // The control panel is told, so it shows the idle window's times again.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_pSink->Count(MSG_PLAYWND_CHANGED), 1);
        // An address refused before any network call is reported at once.
        m_shown.clear();
        QVERIFY(!m_pMenu->OpenStreamInCurrent(QStringLiteral("rtsp://127.0.0.1:1"), 0));
        QCOMPARE(m_shown, QStringList{QStringLiteral("打开网络流流失败！")});
    }

    void failedFileOpenReports() {
        GetFrameWork().m_nCurIndex = 1;
        QVERIFY(!m_pMenu->OpenFileInCurrent(QStringLiteral("/nonexistent/folder/none.qf")));
        QCOMPARE(m_shown, QStringList{QStringLiteral("打开文件失败！")});
        QCOMPARE(int(GetFrameWork().m_stPlayInfo[1].nPlayType), int(kPlayNone));
        // The control panel is told, so it shows the idle window's times again.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_pSink->Count(MSG_PLAYWND_CHANGED), 1);
    }

    void fileDialogChoices() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Not a recording: the open fails after the dialog ended with OK.
        const QString strPath = dir.filePath(QStringLiteral("broken.qf"));
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a recording");
        file.close();

        QStringList filters;
        QString strSelected;
        bool bAccept = false;
        auto fnDriveDialog = [&] {
            auto* pDlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (pDlg == nullptr) {
                return;
            }
            filters = pDlg->nameFilters();
            strSelected = pDlg->selectedNameFilter();
            if (bAccept) {
                pDlg->selectFile(strPath);
                QMetaObject::invokeMethod(pDlg, "accept");
            } else {
                pDlg->reject();
            }
        };
        // Cancelled: nothing happens.
        QTimer::singleShot(0, fnDriveDialog);
        m_pMenu->OnOpenFile();
        QCOMPARE(filters, (QStringList{QStringLiteral("Brelso Files(*.qf)"),
                                       QStringLiteral("AVI Files(*.avi)"),
                                       QStringLiteral("All Files(*.*)")}));
        QCOMPARE(strSelected, QStringLiteral("Brelso Files(*.qf)"));
        QVERIFY(m_shown.isEmpty());
        // Chosen: the path reaches the controller, which cannot play it.
        bAccept = true;
        filters.clear();
        QTimer::singleShot(0, fnDriveDialog);
        m_pMenu->OnOpenFile();
        QCOMPARE(filters.size(), 3);
        QCOMPARE(m_shown, QStringList{QStringLiteral("打开文件失败！")});
    }

    void streamDialogDrivesOpen() {
        QString strAddress = QStringLiteral("rtsp://127.0.0.1:1/none");
        bool bAccept = false;
        auto fnDriveDialog = [&] {
            auto* pDlg = qobject_cast<CURLInputDlg*>(QApplication::activeModalWidget());
            if (pDlg == nullptr) {
                return;
            }
            pDlg->AddressEdit()->setText(strAddress);
            if (bAccept) {
                pDlg->accept();
            } else {
                pDlg->reject();
            }
        };
        QTimer::singleShot(0, fnDriveDialog);
        m_pMenu->OnOpenStream();
        QVERIFY(m_shown.isEmpty());
        bAccept = true;
        QTimer::singleShot(0, fnDriveDialog);
        m_pMenu->OnOpenStream();
        QTRY_COMPARE(m_shown, QStringList{QStringLiteral("打开网络流流失败！")});
    }

    void blankPathIgnored() {
        QVERIFY(!m_pMenu->OpenFileInCurrent(QStringLiteral("   ")));
        QVERIFY(!m_pMenu->OpenFileInCurrent(QString()));
        QVERIFY(m_shown.isEmpty());
    }
};

QTEST_MAIN(TestCMenuDlg)
#include "tst_cmenudlg.moc"
