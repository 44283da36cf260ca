// The hyperlink: colours per state, hover with mouse capture, fitting to its text, opening and
// the error texts.
#include <QApplication>
#include <QtTest>

#include "CHyperLink.h"
#include "MessageBox.h"

namespace {

void Move(QWidget* w, QPoint pt) {
    QMouseEvent ev(QEvent::MouseMove, QPointF(pt), w->mapToGlobal(QPointF(pt)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

bool HasPixelOf(const QImage& img, const QColor& clr) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (img.pixel(x, y) == clr.rgb()) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class TestCHyperLink : public QObject {
    Q_OBJECT

private:
    QWidget* m_pParent = nullptr;
    CHyperLink* m_pLink = nullptr;
    QStringList m_shown;
    QStringList m_opened;

private slots:
    void init() {
        m_shown.clear();
        m_opened.clear();
        UiMessageBox::SetInterceptor([this](const QString& strText, QMessageBox::StandardButtons) {
            m_shown << strText;
            return QMessageBox::Ok;
        });
        m_pParent = new QWidget;
        m_pParent->resize(400, 100);
        m_pLink = new CHyperLink(m_pParent);
        QFont font = m_pLink->font();
        font.setPixelSize(20);
        m_pLink->setFont(font);
        m_pLink->setText(QStringLiteral("http://www.example.com"));
        m_pLink->setGeometry(30, 20, 300, 40);
        m_pLink->Attach();
        m_pParent->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pParent));
    }
    void cleanup() {
        delete m_pParent;
        UiMessageBox::SetInterceptor(nullptr);
    }

    void attachTakesTextAsTarget() {
        QCOMPARE(m_pLink->Target(), QStringLiteral("http://www.example.com"));
        QCOMPARE(m_pLink->toolTip(), m_pLink->Target());
        QCOMPARE(m_pLink->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(m_pLink->font().underline());
    }

    void fitsToText() {
        const QFontMetrics fm(m_pLink->font());
        QCOMPARE(m_pLink->geometry().topLeft(), QPoint(30, 20));
        QCOMPARE(m_pLink->width(), fm.horizontalAdvance(m_pLink->text()));
        QCOMPARE(m_pLink->height(), fm.height());
    }

    void fitsCentredText() {
        auto* pLink = new CHyperLink(m_pParent);
        pLink->setText(QStringLiteral("abc"));
        pLink->setAlignment(Qt::AlignCenter);
        pLink->setGeometry(0, 0, 200, 60);
        pLink->Attach();
        const QFontMetrics fm(pLink->font());
        const QRect rc = pLink->geometry();
        QVERIFY(qAbs(rc.center().x() - 100) <= 1);
        QVERIFY(qAbs(rc.center().y() - 30) <= 1);
        QVERIFY(qAbs(rc.width() - fm.horizontalAdvance(QStringLiteral("abc"))) <= 1);
    }

    void setTargetRetips() {
        m_pLink->SetTarget(QStringLiteral("http://other.example.org"));
        QCOMPARE(m_pLink->Target(), QStringLiteral("http://other.example.org"));
        QCOMPARE(m_pLink->toolTip(), QStringLiteral("http://other.example.org"));
    }

    void underlineSwitch() {
        m_pLink->SetUnderlined(false);
        QVERIFY(!m_pLink->font().underline());
        m_pLink->SetUnderlined(true);
        QVERIFY(m_pLink->font().underline());
    }

    void coloursFollowState() {
        const QColor clrHighlight = QApplication::palette().color(QPalette::Highlight);
        QCOMPARE(m_pLink->CurrentColor(), QColor(0, 0, 238));
        QVERIFY(HasPixelOf(m_pLink->grab().toImage(), QColor(0, 0, 238)));

        // Hover: the highlight colour, with the mouse captured.
        Move(m_pLink, QPoint(5, 5));
        QVERIFY(m_pLink->IsHover());
        QCOMPARE(QWidget::mouseGrabber(), static_cast<QWidget*>(m_pLink));
        QCOMPARE(m_pLink->CurrentColor(), clrHighlight);
        QVERIFY(HasPixelOf(m_pLink->grab().toImage(), clrHighlight));
        // Still inside: nothing changes.
        Move(m_pLink, QPoint(10, 6));
        QVERIFY(m_pLink->IsHover());
        // Outside: released, blue again.
        Move(m_pLink, QPoint(-20, 5));
        QVERIFY(!m_pLink->IsHover());
        QVERIFY(QWidget::mouseGrabber() == nullptr);
        QCOMPARE(m_pLink->CurrentColor(), QColor(0, 0, 238));

        // A successful open turns it purple.
        m_pLink->SetOpener([this](const QString& s) {
            m_opened << s;
            return 42;
        });
        m_pLink->OpenLink();
        QCOMPARE(m_opened, QStringList{QStringLiteral("http://www.example.com")});
        QVERIFY(m_pLink->IsOpened());
        QCOMPARE(m_pLink->CurrentColor(), QColor(85, 26, 139));
        QVERIFY(HasPixelOf(m_pLink->grab().toImage(), QColor(85, 26, 139)));
        QVERIFY(m_shown.isEmpty());
    }

    void clickOpens() {
        m_pLink->SetOpener([this](const QString& s) {
            m_opened << s;
            return 33;
        });
        QTest::mouseClick(m_pLink, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_pLink->IsOpened());
    }

    void failedOpenReportsAndClears() {
        m_pLink->SetOpener([](const QString&) { return 42; });
        m_pLink->OpenLink();
        QVERIFY(m_pLink->IsOpened());
        m_pLink->SetOpener([](const QString&) { return 26; });
        m_pLink->OpenLink();
        QVERIFY(!m_pLink->IsOpened());
        QCOMPARE(m_pLink->CurrentColor(), QColor(0, 0, 238));
        QCOMPARE(m_shown, QStringList{QStringLiteral(
                              "Unable to open hyperlink:\n\nA sharing violation occurred. ")});
        m_pLink->SetOpener([](const QString&) { return 4; });
        m_pLink->OpenLink();
        QCOMPARE(m_shown.last(),
                 QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (4) occurred."));
    }

    void errorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "The operating system is out\nof memory or resources.";
        QTest::newRow("2") << 2 << "The specified file was not found.";
        QTest::newRow("3") << 3 << "The specified path was not found.";
        QTest::newRow("5") << 5 << "The operating system denied\naccess to the specified file.";
        QTest::newRow("8") << 8 << "There was not enough memory to complete the operation.";
        QTest::newRow("11") << 11
                            << "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        QTest::newRow("26") << 26 << "A sharing violation occurred. ";
        QTest::newRow("27") << 27 << "The filename association is\nincomplete or invalid.";
        QTest::newRow("28") << 28
                            << "The DDE transaction could not\nbe completed because the request "
                               "timed out.";
        QTest::newRow("29") << 29 << "The DDE transaction failed.";
        QTest::newRow("30") << 30
                            << "The DDE transaction could not\nbe completed because other DDE "
                               "transactions\nwere being processed.";
        QTest::newRow("31") << 31
                            << "There is no application associated\nwith the given filename "
                               "extension.";
        QTest::newRow("32") << 32 << "The specified dynamic-link library was not found.";
        QTest::newRow("unknown 4") << 4 << "Unknown Error (4) occurred.";
        QTest::newRow("unknown -1") << -1 << "Unknown Error (-1) occurred.";
    }
    void errorTexts() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(CHyperLink::ErrorText(code), text);
        QCOMPARE(CHyperLink::ErrorMessage(code),
                 QStringLiteral("Unable to open hyperlink:\n\n") + text);
    }
};

QTEST_MAIN(TestCHyperLink)
#include "tst_chyperlink.moc"
