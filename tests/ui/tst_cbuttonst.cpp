// The skinned button: colours per state, the border, icon placement and the hover rules.
#include <QApplication>
#include <QPainter>
#include <QtTest>

#include "CButtonST.h"
#include "ResourceTable.h"

namespace {

const QColor kHot(135, 200, 250);
const QColor kNormal(200, 200, 200);
const QColor kFocus(90, 90, 90);
const QColor kHotIcon(220, 20, 20);
const QColor kRestIcon(20, 20, 220);

QPixmap SolidIcon(const QColor& clr) {
    QPixmap pm(16, 16);
    pm.fill(clr);
    return pm;
}

void Move(QWidget* w, QPoint pt, Qt::MouseButtons buttons) {
    QMouseEvent ev(QEvent::MouseMove, QPointF(pt), w->mapToGlobal(QPointF(pt)), Qt::NoButton,
                   buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

}  // namespace

class TestCButtonST : public QObject {
    Q_OBJECT

private:
    QWidget* m_pParent = nullptr;
    CButtonST* m_pBtn = nullptr;

    QImage Grab() { return m_pBtn->grab().toImage(); }

private slots:
    void init() {
        m_pParent = new QWidget;
        m_pParent->resize(200, 100);
        m_pBtn = new CButtonST(m_pParent);
        m_pBtn->setGeometry(10, 10, 60, 40);
        m_pBtn->SetIcons(SolidIcon(kHotIcon), SolidIcon(kRestIcon));
        m_pBtn->SetColor(CButtonST::BTN_BK_HOT, kHot);
        m_pBtn->SetColor(CButtonST::BTN_BK_NORMAL, kNormal);
        m_pBtn->SetColor(CButtonST::BTN_BK_FOCUS, kFocus);
        const QPalette pal = QApplication::palette();
        // The edges must be told apart from the backgrounds for the checks to mean anything.
        QVERIFY(pal.color(QPalette::Light).rgb() != kHot.rgb() &&
                pal.color(QPalette::Dark).rgb() != kHot.rgb());
        QVERIFY(pal.color(QPalette::Light).rgb() != pal.color(QPalette::Dark).rgb());
    }
    void cleanup() { delete m_pParent; }

    void restHasNoBorderAndRestIcon() {
        const QImage img = Grab();
        QCOMPARE(img.pixelColor(0, 0), kNormal);
        QCOMPARE(img.pixelColor(59, 39), kNormal);
        // Icon centred: x (60 - 16) / 2 = 22, y (40 - 16) / 2 = 12.
        QCOMPARE(img.pixelColor(22, 12), kRestIcon);
        QCOMPARE(img.pixelColor(37, 27), kRestIcon);
        QCOMPARE(img.pixelColor(21, 12), kNormal);
        QCOMPARE(img.pixelColor(38, 28), kNormal);
    }

    void hoverRaisedBorderHotColour() {
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        QVERIFY(m_pBtn->IsMouseIn());
        const QImage img = Grab();
        const QPalette pal = QApplication::palette();
        QCOMPARE(img.pixelColor(5, 5), kHot);
        QCOMPARE(img.pixel(0, 0), pal.color(QPalette::Light).rgb());
        QCOMPARE(img.pixel(0, 20), pal.color(QPalette::Light).rgb());
        QCOMPARE(img.pixel(59, 39), pal.color(QPalette::Dark).rgb());
        QCOMPARE(img.pixel(30, 39), pal.color(QPalette::Dark).rgb());
        QCOMPARE(img.pixelColor(22, 12), kHotIcon);
    }

    void pressedSunkenBorderAndShift() {
        m_pBtn->setDown(true);
        const QImage img = Grab();
        const QPalette pal = QApplication::palette();
        QCOMPARE(img.pixel(0, 0), pal.color(QPalette::Dark).rgb());
        QCOMPARE(img.pixel(59, 39), pal.color(QPalette::Light).rgb());
        QCOMPARE(img.pixelColor(5, 5), kHot);
        // The icon moves one pixel right and down.
        QCOMPARE(img.pixelColor(22, 12), kHot);
        QCOMPARE(img.pixelColor(23, 13), kHotIcon);
        QCOMPARE(img.pixelColor(38, 28), kHotIcon);
        m_pBtn->setDown(false);
    }

    void noBorderWhenDisabled() {
        m_pBtn->SetBorder(false);
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        const QImage img = Grab();
        QCOMPARE(img.pixelColor(0, 0), kHot);
        QCOMPARE(img.pixelColor(59, 39), kHot);
    }

    void leavingCancelsHover() {
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        QVERIFY(m_pBtn->IsMouseIn());
        Move(m_pBtn, QPoint(100, 5), Qt::NoButton);
        QVERIFY(!m_pBtn->IsMouseIn());
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m_pBtn, &leave);
        QVERIFY(!m_pBtn->IsMouseIn());
        QCOMPARE(Grab().pixelColor(5, 5), kNormal);
    }

    void draggingOntoDoesNotLight() {
        Move(m_pBtn, QPoint(5, 5), Qt::LeftButton);
        QVERIFY(!m_pBtn->IsMouseIn());
        QCOMPARE(Grab().pixelColor(5, 5), kNormal);
    }

    void hotIconOnlyShownInBothStates() {
        m_pBtn->SetIcons(SolidIcon(kHotIcon), QPixmap());
        QVERIFY(m_pBtn->HasIcon(0));
        QVERIFY(!m_pBtn->HasIcon(1));
        QCOMPARE(Grab().pixelColor(22, 12), kHotIcon);
    }

    void nullHotIconLeavesNoIcons() {
        m_pBtn->SetIcons(QPixmap(), SolidIcon(kRestIcon));
        QVERIFY(!m_pBtn->HasIcon(0));
        QVERIFY(!m_pBtn->HasIcon(1));
        QCOMPARE(Grab().pixelColor(30, 20), kNormal);
    }

    void iconFromResourceTable() {
        m_pBtn->SetIcons(IDI_PLAY_HOT, IDI_PLAY_REST);
        QVERIFY(m_pBtn->HasIcon(0));
        QVERIFY(m_pBtn->HasIcon(1));
        m_pBtn->SetIcons(IDI_SOUND_OFF, 0);
        QVERIFY(m_pBtn->HasIcon(0));
        QVERIFY(!m_pBtn->HasIcon(1));
    }

    void iconWithTextSitsAtMargin() {
        m_pBtn->setText(QStringLiteral("X"));
        const QImage img = Grab();
        // Left edge 3 from the button's left, centred vertically.
        QCOMPARE(img.pixelColor(3, 12), kRestIcon);
        QCOMPARE(img.pixelColor(2, 12), kNormal);
    }

    void systemColourChangeDropsSetColours() {
        const QPalette old = QApplication::palette();
        QPalette pal = old;
        pal.setColor(QPalette::Button, QColor(1, 2, 3));
        pal.setColor(QPalette::ButtonText, QColor(4, 5, 6));
        QApplication::setPalette(pal);
        QCoreApplication::processEvents();
        QCOMPARE(m_pBtn->GetColor(CButtonST::BTN_BK_HOT), QColor(1, 2, 3));
        QCOMPARE(m_pBtn->GetColor(CButtonST::BTN_BK_NORMAL), QColor(1, 2, 3));
        QCOMPARE(m_pBtn->GetColor(CButtonST::BTN_BK_FOCUS), QColor(1, 2, 3));
        QCOMPARE(m_pBtn->GetColor(CButtonST::BTN_FG_NORMAL), QColor(4, 5, 6));
        QApplication::setPalette(old);
        QCoreApplication::processEvents();
    }

    void transparentShowsParentBackground() {
        m_pParent->setAutoFillBackground(true);
        QPalette pal = m_pParent->palette();
        pal.setColor(QPalette::Window, QColor(30, 160, 60));
        m_pParent->setPalette(pal);
        m_pBtn->SetBorder(false);
        m_pBtn->SetTransparent();
        const QImage img = m_pParent->grab().toImage();
        QCOMPARE(img.pixelColor(10 + 2, 10 + 2), QColor(30, 160, 60));
        QCOMPARE(img.pixelColor(10 + 22, 10 + 12), kRestIcon);
        // Hovering swaps the icon and still shows no border.
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        const QImage hot = m_pParent->grab().toImage();
        QCOMPARE(hot.pixelColor(10 + 22, 10 + 12), kHotIcon);
        QCOMPARE(hot.pixelColor(10, 10), QColor(30, 160, 60));
    }

    void focusColourAndHoverWins() {
        m_pParent->show();
        m_pParent->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_pParent));
        m_pBtn->setFocus();
        QVERIFY(m_pBtn->hasFocus());
        QCOMPARE(Grab().pixelColor(5, 5), kFocus);
        // The pointer over it wins over the focus.
        Move(m_pBtn, QPoint(5, 5), Qt::NoButton);
        QCOMPARE(Grab().pixelColor(5, 5), kHot);
        // Losing the focus also ends the hover.
        m_pBtn->clearFocus();
        QVERIFY(!m_pBtn->IsMouseIn());
        QCOMPARE(Grab().pixelColor(5, 5), kNormal);
    }

    void doubleClickActsAsClick() {
        int nClicks = 0;
        connect(m_pBtn, &QPushButton::clicked, this, [&nClicks] { ++nClicks; });
        m_pParent->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pParent));
        QTest::mouseClick(m_pBtn, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseDClick(m_pBtn, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(m_pBtn, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(nClicks, 2);
    }
};

QTEST_MAIN(TestCButtonST)
#include "tst_cbuttonst.moc"
