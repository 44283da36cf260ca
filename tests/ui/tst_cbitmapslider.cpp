// The bitmap slider: position mapping, keys, dragging, notifications and painting.
#include <QApplication>
#include <QtTest>

#include "CBitmapSlider.h"
#include "DlgCtrlId.h"
#include "MessageSink.h"
#include "ResourceTable.h"

class TestCBitmapSlider : public QObject {
    Q_OBJECT

private:
    static void Configure(CBitmapSlider& s, int nMin, int nMax, int cxTrack, int cxKnob, int mL,
                          int mR) {
        s.m_nRangeMin = nMin;
        s.m_nRangeMax = nMax;
        s.m_cxTrack = cxTrack;
        s.m_cxKnob = cxKnob;
        s.m_nMarginLeft = mL;
        s.m_nMarginRight = mR;
    }

    static void SendMouse(QWidget* w, QEvent::Type type, int x, Qt::MouseButtons buttons,
                          Qt::MouseButton button) {
        const QPointF pt(x, 5);
        QMouseEvent ev(type, pt, w->mapToGlobal(pt), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &ev);
    }

private slots:
    void posToPixel_data() {
        QTest::addColumn<int>("nMin");
        QTest::addColumn<int>("nMax");
        QTest::addColumn<int>("cxTrack");
        QTest::addColumn<int>("cxKnob");
        QTest::addColumn<int>("mL");
        QTest::addColumn<int>("mR");
        QTest::addColumn<int>("nPos");
        QTest::addColumn<int>("nPixel");
        QTest::newRow("middle of 283 with 23 knob") << 0 << 100 << 283 << 23 << 0 << 0 << 50 << 141;
        QTest::newRow("minimum") << 0 << 100 << 283 << 23 << 0 << 0 << 0 << 11;
        QTest::newRow("maximum") << 0 << 100 << 283 << 23 << 0 << 0 << 100 << 271;
        QTest::newRow("one step truncates") << 0 << 100 << 283 << 23 << 0 << 0 << 1 << 13;
        QTest::newRow("progress margins") << 0 << 1000 << 700 << 10 << 0 << 2 << 500 << 349;
        QTest::newRow("volume margins no knob") << 0 << 100 << 110 << 0 << 8 << 8 << 50 << 55;
        QTest::newRow("negative range") << -50 << 50 << 120 << 0 << 8 << 8 << 0 << 60;
        QTest::newRow("empty range") << 10 << 10 << 283 << 23 << 0 << 0 << 10 << 11;
        QTest::newRow("inverted range") << 10 << 0 << 283 << 23 << 4 << 0 << 5 << 15;
    }
    void posToPixel() {
        QFETCH(int, nMin);
        QFETCH(int, nMax);
        QFETCH(int, cxTrack);
        QFETCH(int, cxKnob);
        QFETCH(int, mL);
        QFETCH(int, mR);
        QFETCH(int, nPos);
        QFETCH(int, nPixel);
        CBitmapSlider s;
        Configure(s, nMin, nMax, cxTrack, cxKnob, mL, mR);
        QCOMPARE(s.PosToPixel(nPos), nPixel);
    }

    void pixelToPos_data() {
        QTest::addColumn<int>("nMin");
        QTest::addColumn<int>("nMax");
        QTest::addColumn<int>("cxTrack");
        QTest::addColumn<int>("cxKnob");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("nPos");
        QTest::newRow("centre") << 0 << 100 << 283 << 23 << 141 << 50;
        QTest::newRow("start") << 0 << 100 << 283 << 23 << 11 << 0;
        QTest::newRow("end") << 0 << 100 << 283 << 23 << 271 << 100;
        QTest::newRow("just past start") << 0 << 100 << 283 << 23 << 12 << 0;
        QTest::newRow("three pixels") << 0 << 100 << 283 << 23 << 14 << 1;
        QTest::newRow("before the track truncates toward zero") << 0 << 100 << 283 << 23 << 0 << -4;
        QTest::newRow("offset range") << 100 << 200 << 283 << 23 << 141 << 150;
        QTest::newRow("no room for the knob") << 5 << 100 << 23 << 23 << 11 << 5;
        QTest::newRow("knob wider than track") << 5 << 100 << 20 << 23 << 11 << 5;
    }
    void pixelToPos() {
        QFETCH(int, nMin);
        QFETCH(int, nMax);
        QFETCH(int, cxTrack);
        QFETCH(int, cxKnob);
        QFETCH(int, x);
        QFETCH(int, nPos);
        CBitmapSlider s;
        Configure(s, nMin, nMax, cxTrack, cxKnob, 0, 0);
        QCOMPARE(s.PixelToPos(x), nPos);
    }

    void setPositionClamps_data() {
        QTest::addColumn<int>("nSet");
        QTest::addColumn<int>("nExpected");
        QTest::newRow("inside") << 42 << 42;
        QTest::newRow("above") << 1000 << 100;
        QTest::newRow("below") << -3 << 0;
    }
    void setPositionClamps() {
        QFETCH(int, nSet);
        QFETCH(int, nExpected);
        CBitmapSlider s;
        s.SetPosition(nSet);
        QCOMPARE(s.m_nPosition, nExpected);
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("nStart");
        QTest::addColumn<int>("nExpected");
        QTest::newRow("page up") << int(Qt::Key_PageUp) << 50 << 30;
        QTest::newRow("page up near the minimum") << int(Qt::Key_PageUp) << 10 << 0;
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 10 << 30;
        QTest::newRow("page down near the maximum") << int(Qt::Key_PageDown) << 95 << 100;
        QTest::newRow("end") << int(Qt::Key_End) << 10 << 100;
        QTest::newRow("home") << int(Qt::Key_Home) << 77 << 0;
        QTest::newRow("left") << int(Qt::Key_Left) << 50 << 49;
        QTest::newRow("up") << int(Qt::Key_Up) << 50 << 49;
        QTest::newRow("right") << int(Qt::Key_Right) << 50 << 51;
        QTest::newRow("down") << int(Qt::Key_Down) << 50 << 51;
        QTest::newRow("right at the maximum") << int(Qt::Key_Right) << 100 << 100;
        QTest::newRow("left at the minimum") << int(Qt::Key_Left) << 0 << 0;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(int, nStart);
        QFETCH(int, nExpected);
        MessageSink parent;
        auto* s = new CBitmapSlider(&parent);
        SetDlgCtrlID(s, 1004);
        s->SetPosition(nStart);
        QTest::keyClick(s, static_cast<Qt::Key>(key));
        QCOMPARE(s->m_nPosition, nExpected);
        // Posted, not sent: nothing arrives before the event loop runs.
        QCOMPARE(parent.Count(MSG_SLIDER_MOVED), 0);
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(parent.m_messages.size(), size_t(1));
        QCOMPARE(parent.m_messages[0].nMsg, MSG_SLIDER_MOVED);
        QCOMPARE(parent.m_messages[0].wParam, uintptr_t(1004));
        QCOMPARE(parent.m_messages[0].lParam, intptr_t(nExpected));
    }

    void otherKeysNotify() {
        MessageSink parent;
        auto* s = new CBitmapSlider(&parent);
        s->SetPosition(40);
        QTest::keyClick(s, Qt::Key_A);
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(s->m_nPosition, 40);
        QCOMPARE(parent.m_messages.size(), size_t(0));
    }

    void dragJumpsToPointer() {
        MessageSink parent;
        parent.resize(400, 50);
        auto* s = new CBitmapSlider(&parent);
        SetDlgCtrlID(s, 1004);
        s->setGeometry(0, 0, 283, 30);
        s->m_bFitLength = true;
        QVERIFY(s->SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false));
        QVERIFY(s->SetKnobBitmaps());
        QCOMPARE(s->height(), 14);  // the track's height
        QCOMPARE(s->m_cxTrack, 283);
        QCOMPARE(s->m_cxKnob, 10);

        // Far from the knob (centre 5): the knob jumps to the pointer.
        SendMouse(s, QEvent::MouseButtonPress, 200, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(s->m_bDragging);
        QCOMPARE(s->m_nGrabOffset, 0);
        const int nAt200 = int((200 - 5) / 273.0 * 100);  // 71
        QCOMPARE(s->m_nPosition, nAt200);
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(parent.m_messages.size(), size_t(1));
        QCOMPARE(parent.m_messages[0].nMsg, MSG_SLIDER_MOVING);
        QCOMPARE(parent.m_messages[0].wParam, uintptr_t(1004));
        QCOMPARE(parent.m_messages[0].lParam, intptr_t(nAt200));

        // Past the end: the knob stops at the track's end.
        SendMouse(s, QEvent::MouseMove, 400, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(s->m_nPosition, 100);
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(parent.Count(MSG_SLIDER_MOVING), 2);

        // Release: MOVED is delivered before the release returns.
        SendMouse(s, QEvent::MouseButtonRelease, 400, Qt::NoButton, Qt::LeftButton);
        QVERIFY(!s->m_bDragging);
        QCOMPARE(parent.Count(MSG_SLIDER_MOVED), 1);
        QCOMPARE(parent.m_messages.back().lParam, intptr_t(100));
    }

    void dragKeepsGrip() {
        MessageSink parent;
        auto* s = new CBitmapSlider(&parent);
        SetDlgCtrlID(s, 7);
        s->setGeometry(0, 0, 283, 30);
        s->m_bFitLength = true;
        QVERIFY(s->SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false));
        QVERIFY(s->SetKnobBitmaps());
        s->SetPosition(50);
        const int nCentre = s->PosToPixel(50);
        // On the knob, 3 pixels right of its centre: no jump, no notification.
        SendMouse(s, QEvent::MouseButtonPress, nCentre + 3, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(s->m_nGrabOffset, 3);
        QCOMPARE(s->m_nPosition, 50);
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(parent.Count(MSG_SLIDER_MOVING), 0);
        // Moving 20 pixels moves the knob centre 20 pixels.
        SendMouse(s, QEvent::MouseMove, nCentre + 23, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(s->m_nPosition, s->PixelToPos(nCentre + 20));
        QVERIFY(s->m_nPosition > 50);
        // Moves without a drag do nothing.
        SendMouse(s, QEvent::MouseButtonRelease, nCentre + 23, Qt::NoButton, Qt::LeftButton);
        const int nAfter = s->m_nPosition;
        SendMouse(s, QEvent::MouseMove, 5, Qt::NoButton, Qt::NoButton);
        QCOMPARE(s->m_nPosition, nAfter);
    }

    void releaseWithoutChangeStillSendsMoved() {
        MessageSink parent;
        auto* s = new CBitmapSlider(&parent);
        SetDlgCtrlID(s, 9);
        s->setGeometry(0, 0, 283, 30);
        s->m_bFitLength = true;
        QVERIFY(s->SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false));
        QVERIFY(s->SetKnobBitmaps());
        s->SetPosition(30);
        const int x = s->PosToPixel(30);
        SendMouse(s, QEvent::MouseButtonPress, x, Qt::LeftButton, Qt::LeftButton);
        SendMouse(s, QEvent::MouseButtonRelease, x, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(parent.Count(MSG_SLIDER_MOVED), 1);
        QCOMPARE(parent.m_messages.back().wParam, uintptr_t(9));
        QCOMPARE(parent.m_messages.back().lParam, intptr_t(30));
        QCoreApplication::sendPostedEvents(&parent);
        QCOMPARE(parent.Count(MSG_SLIDER_MOVING), 0);
    }

    void emptyRangeDragIsSafe() {
        MessageSink parent;
        auto* s = new CBitmapSlider(&parent);
        s->setGeometry(0, 0, 100, 30);
        s->m_nRangeMin = 0;
        s->m_nRangeMax = 0;
        s->m_bFitLength = true;
        QVERIFY(s->SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false));
        QVERIFY(s->SetKnobBitmaps());
        SendMouse(s, QEvent::MouseButtonPress, 60, Qt::LeftButton, Qt::LeftButton);
        SendMouse(s, QEvent::MouseMove, 90, Qt::LeftButton, Qt::NoButton);
        SendMouse(s, QEvent::MouseButtonRelease, 90, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(s->m_nPosition, 0);
        const QImage img = s->grab().toImage();
        QVERIFY(!img.isNull());
    }

    void makeMask() {
        QImage pic(4, 2, QImage::Format_RGB32);
        pic.fill(QColor(255, 0, 255));
        pic.setPixelColor(1, 0, QColor(10, 20, 30));
        pic.setPixelColor(3, 1, QColor(200, 200, 200));
        const QImage mask = CBitmapSlider::MakeMask(pic);
        QCOMPARE(mask.size(), QSize(4, 2));
        QCOMPARE(mask.depth(), 1);
        QCOMPARE(mask.pixelIndex(0, 0), 1);
        QCOMPARE(mask.pixelIndex(1, 0), 0);
        QCOMPARE(mask.pixelIndex(3, 1), 0);
        QCOMPARE(mask.pixelIndex(2, 1), 1);
        // See-through pixels of the picture itself are black; the others stay.
        QCOMPARE(pic.pixelColor(0, 0), QColor(0, 0, 0));
        QCOMPARE(pic.pixelColor(1, 0), QColor(10, 20, 30));
        QCOMPARE(pic.pixelColor(3, 1), QColor(200, 200, 200));
    }

    void paintsFillTrackAndKnob() {
        QWidget parent;
        parent.resize(300, 40);
        auto* s = new CBitmapSlider(&parent);
        s->setGeometry(0, 0, 200, 30);
        s->m_bFitLength = true;
        s->m_nMarginRight = 2;
        s->m_nMarginTop = 2;
        QVERIFY(s->SetTrackBitmaps(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL, false));
        QVERIFY(s->SetKnobBitmaps());
        s->SetPosition(50);
        const QImage img = s->grab().toImage();
        const QImage track = BrelsoRes::LoadBitmapImage(IDB_PROGRESS_TRACK);
        const QImage fill = BrelsoRes::LoadBitmapImage(IDB_PROGRESS_FILL);
        const int k = s->PosToPixel(50);
        // Before the knob the fill, after it the track, repeated along the length.
        QCOMPARE(img.pixelColor(3, 6), fill.pixelColor(3, 6));
        QCOMPARE(img.pixelColor(k - 20, 6), fill.pixelColor((k - 20) % fill.width(), 6));
        QCOMPARE(img.pixelColor(190, 6), track.pixelColor(190 % track.width(), 6));
        QVERIFY(fill.pixelColor(3, 6) != track.pixelColor(3, 6));
        // The knob's face at its centre, its see-through corner showing the track.
        const QImage knob = BrelsoRes::LoadBitmapImage(IDB_KNOB);
        QCOMPARE(img.pixelColor(k, 2 + knob.height() / 2),
                 knob.pixelColor(knob.width() / 2, knob.height() / 2));
        const int xKnob = k - knob.width() / 2;
        QCOMPARE(img.pixelColor(xKnob, 2), track.pixelColor(xKnob % track.width(), 2));
    }

    void transparentTrackShowsParent() {
        QWidget parent;
        parent.resize(200, 60);
        parent.setAutoFillBackground(true);
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, QColor(200, 30, 30));
        parent.setPalette(pal);
        auto* s = new CBitmapSlider(&parent);
        s->setGeometry(10, 10, 126, 37);
        s->m_nRangeMax = 100;
        s->m_nMarginLeft = 8;
        s->m_nMarginRight = 8;
        QVERIFY(s->SetTrackBitmaps(IDB_VOLUME_TRACK, IDB_VOLUME_FILL, true));
        s->SetPosition(50);
        QCOMPARE(s->PosToPixel(50), 55);
        const QImage img = parent.grab().toImage();
        const QImage fill = BrelsoRes::LoadBitmapImage(IDB_VOLUME_FILL);
        const QImage track = BrelsoRes::LoadBitmapImage(IDB_VOLUME_TRACK);
        // See-through corner: the parent's red; then the fill up to x 55, the track after it.
        QCOMPARE(img.pixelColor(10 + 0, 10 + 0), QColor(200, 30, 30));
        QCOMPARE(img.pixelColor(10 + 20, 10 + 17), fill.pixelColor(20, 17));
        QCOMPARE(img.pixelColor(10 + 100, 10 + 17), track.pixelColor(100, 17));
        QVERIFY(fill.pixelColor(20, 17) != track.pixelColor(20, 17));
        // Beyond the pictures' width (110) the parent shows too.
        QCOMPARE(img.pixelColor(10 + 120, 10 + 17), QColor(200, 30, 30));

        // At the minimum no fill shows, not even left of the knob's place (no coloured tip).
        s->SetPosition(0);
        const QImage atZero = parent.grab().toImage();
        int nCompared = 0;
        for (int x = 0; x < s->PosToPixel(0); ++x) {
            for (int y = 0; y < track.height(); ++y) {
                if (fill.pixelColor(x, y) == track.pixelColor(x, y)) continue;
                ++nCompared;
                QVERIFY(atZero.pixelColor(10 + x, 10 + y) != fill.pixelColor(x, y));
            }
        }
        QVERIFY(nCompared > 0);
    }

    void missingBitmapsFail() {
        CBitmapSlider s;
        QVERIFY(!s.SetTrackBitmaps(9999, IDB_PROGRESS_FILL, false));
        QVERIFY(!s.m_bTrack);
        QVERIFY(!s.SetTrackBitmaps(IDB_PROGRESS_TRACK, 9999, false));
        QVERIFY(!s.m_bTrack);
    }
};

QTEST_MAIN(TestCBitmapSlider)
#include "tst_cbitmapslider.moc"
