// Off-screen drawing: nothing reaches the destination before the CMemDC goes away, then the
// whole area arrives at once, at the destination's coordinates.
#include <QPainter>
#include <QtTest>

#include "CMemDC.h"
#include "DialogUnits.h"
#include "PrivateMessage.h"

class TestCMemDC : public QObject {
    Q_OBJECT

private slots:
    void copiesOnDestruction() {
        QImage dest(50, 40, QImage::Format_RGB32);
        dest.fill(Qt::white);
        QPainter dc(&dest);
        dc.setBackground(QColor(10, 10, 10));
        const QRect rc(10, 5, 20, 20);
        {
            CMemDC mem(&dc, &rc, false);
            QVERIFY(mem.IsOffscreen());
            mem->fillRect(QRect(15, 10, 5, 5), QColor(0, 200, 0));
            // Nothing on the destination yet.
            dc.end();
            QCOMPARE(dest.pixelColor(16, 11), QColor(Qt::white));
            dc.begin(&dest);
        }
        dc.end();
        // Drawn in the destination's coordinates; the rest of the area is the background
        // colour; outside the area the destination is untouched.
        QCOMPARE(dest.pixelColor(16, 11), QColor(0, 200, 0));
        QCOMPARE(dest.pixelColor(10, 5), QColor(10, 10, 10));
        QCOMPARE(dest.pixelColor(29, 24), QColor(10, 10, 10));
        QCOMPARE(dest.pixelColor(9, 5), QColor(Qt::white));
        QCOMPARE(dest.pixelColor(30, 24), QColor(Qt::white));
    }

    void copyBackgroundKeepsDestination() {
        QImage dest(30, 30, QImage::Format_RGB32);
        dest.fill(QColor(200, 0, 0));
        {
            QPainter dc(&dest);
            CMemDC mem(&dc, nullptr, true);
            QCOMPARE(mem.Area(), QRect(0, 0, 30, 30));
            mem->fillRect(QRect(0, 0, 5, 5), QColor(0, 0, 250));
        }
        QCOMPARE(dest.pixelColor(2, 2), QColor(0, 0, 250));
        QCOMPARE(dest.pixelColor(20, 20), QColor(200, 0, 0));
    }

    void dialogUnits_data() {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("cx");
        QTest::addColumn<int>("cy");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("origin") << 0 << 0 << 4 << 8 << QRect(0, 0, 6, 13);
        QTest::newRow("toolbar button") << 49 << 0 << 50 << 22 << QRect(74, 0, 75, 36);
        QTest::newRow("panel slider") << 59 << 0 << 394 << 12 << QRect(89, 0, 591, 20);
    }
    void dialogUnits() {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, cx);
        QFETCH(int, cy);
        QFETCH(QRect, expected);
        QCOMPARE(DialogUnits::ToPixels(x, y, cx, cy), expected);
    }

    void privateMessageNumbers() {
        QCOMPARE(MSG_PLAYWND_CHANGED, 0x0FB8);
        QCOMPARE(MSG_SLIDER_MOVING, 0x28D1);
        QCOMPARE(MSG_SLIDER_MOVED, 0x28D2);
        CPrivateMessage msg(MSG_SLIDER_MOVED, 1004, -7);
        QCOMPARE(int(msg.type()), 0x28D2);
        QCOMPARE(msg.WParam(), uintptr_t(1004));
        QCOMPARE(msg.LParam(), intptr_t(-7));
    }
};

QTEST_MAIN(TestCMemDC)
#include "tst_cmemdc.moc"
