// The resource table: every number the windows use gives a real picture of the right size.
#include <QtTest>
#include <set>

#include "ResourceTable.h"

namespace {

// Number of distinct colours, to tell a drawn picture from a blank one.
int ColourCount(const QImage& img) {
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            colours.insert(img.pixel(x, y));
        }
    }
    return int(colours.size());
}

}  // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void icons_data() {
        QTest::addColumn<int>("nId");
        QTest::addColumn<int>("nSize");
        QTest::newRow("program") << IDR_MAINFRAME << 32;
        QTest::newRow("sound on") << IDI_SOUND_ON << 24;
        QTest::newRow("sound off") << IDI_SOUND_OFF << 24;
        for (int id = IDI_PLAY_HOT; id <= IDI_RECORD_HOT; ++id) {
            QTest::newRow(qPrintable(QString::number(id))) << id << 48;
        }
        QTest::newRow("open stream") << IDI_OPEN_STREAM << 16;
        QTest::newRow("open file") << IDI_OPEN_FILE << 16;
    }
    void icons() {
        QFETCH(int, nId);
        QFETCH(int, nSize);
        const QImage img = BrelsoRes::LoadIconImage(nId);
        QCOMPARE(img.size(), QSize(nSize, nSize));
        QVERIFY(ColourCount(img) > 2);
    }

    void hotAndRestIconsDiffer() {
        QVERIFY(BrelsoRes::LoadIconImage(IDI_PLAY_HOT) != BrelsoRes::LoadIconImage(IDI_PLAY_REST));
        QVERIFY(BrelsoRes::LoadIconImage(IDI_RECORD_REST) !=
                BrelsoRes::LoadIconImage(IDI_RECORDING_REST));
        QVERIFY(BrelsoRes::LoadIconImage(IDI_PLAY_REST) !=
                BrelsoRes::LoadIconImage(IDI_PAUSE_REST));
    }

    void bitmaps_data() {
        QTest::addColumn<int>("nId");
        QTest::addColumn<QSize>("size");
        QTest::newRow("progress track") << IDB_PROGRESS_TRACK << QSize(8, 14);
        QTest::newRow("progress fill") << IDB_PROGRESS_FILL << QSize(8, 14);
        QTest::newRow("knob") << IDB_KNOB << QSize(10, 10);
        QTest::newRow("hot knob") << IDB_KNOB_HOT << QSize(10, 10);
        QTest::newRow("disabled knob") << IDB_KNOB_DISABLED << QSize(10, 10);
        QTest::newRow("volume track") << IDB_VOLUME_TRACK << QSize(110, 20);
        QTest::newRow("volume fill") << IDB_VOLUME_FILL << QSize(110, 20);
        QTest::newRow("logo") << IDB_LOGO << QSize(128, 128);
    }
    void bitmaps() {
        QFETCH(int, nId);
        QFETCH(QSize, size);
        const QImage img = BrelsoRes::LoadBitmapImage(nId);
        QCOMPARE(img.size(), size);
        QVERIFY(!img.hasAlphaChannel());
        QVERIFY(ColourCount(img) >= 2);
    }

    void volumePicturesShareOutline() {
        const QImage track = BrelsoRes::LoadBitmapImage(IDB_VOLUME_TRACK);
        const QImage fill = BrelsoRes::LoadBitmapImage(IDB_VOLUME_FILL);
        const QRgb key = track.pixel(0, 0);
        QCOMPARE(fill.pixel(0, 0), key);
        for (int y = 0; y < track.height(); ++y) {
            for (int x = 0; x < track.width(); ++x) {
                QCOMPARE(track.pixel(x, y) == key, fill.pixel(x, y) == key);
            }
        }
    }

    void unknownNumbers() {
        QVERIFY(BrelsoRes::LoadIconImage(1).isNull());
        QVERIFY(BrelsoRes::LoadBitmapImage(1).isNull());
        QVERIFY(BrelsoRes::LoadStringResource(1).isEmpty());
        QVERIFY(BrelsoRes::LoadMenuResource(1).empty());
    }

    void stringAndMenu() {
        QCOMPARE(BrelsoRes::LoadStringResource(IDS_ABOUTBOX),
                 QStringLiteral("关于 BrelsoPlayer(&A)..."));
        const auto menus = BrelsoRes::LoadMenuResource(IDR_MENU_SPEED);
        QCOMPARE(menus.size(), size_t(1));
        QCOMPARE(menus[0].strTitle, QStringLiteral("速率"));
        QCOMPARE(menus[0].items.size(), size_t(7));
        QCOMPARE(menus[0].items[0].nId, ID_SPEED_8X);
        QCOMPARE(menus[0].items[0].strText, QStringLiteral("8倍速"));
        QCOMPARE(menus[0].items[3].strText, QStringLiteral("正常速度"));
        QCOMPARE(menus[0].items[6].nId, ID_SPEED_1_8X);
        QCOMPARE(menus[0].items[6].strText, QStringLiteral("1/8倍速"));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
