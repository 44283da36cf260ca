// Playing files through the play controller: ".qf" recordings and AVI files decoded by the
// decode library into the counting play windows.
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <memory>

#include "EngineMedia.h"
#include "FrameWorkFixture.h"
#include "KXPlaySdk.h"
#include "MediaFileNames.h"
#include "TestMedia.h"

namespace {

class FrameWorkFileTest : public FrameWorkTest {
protected:
    static void SetUpTestSuite() {
        s_folder = std::make_unique<Brelso::Testing::TempDir>();
        const QString folder = QString::fromStdString(s_folder->path());
        s_qf = folder + QStringLiteral("/clip.qf");
        s_shortQf = folder + QStringLiteral("/short.qf");
        s_avi = folder + QStringLiteral("/clip.avi");
        s_upperAvi = folder + QStringLiteral("/CLIP.AVI");
        s_bMediaReady = EngineMedia::MakeQf(s_qf, 10) && EngineMedia::MakeQf(s_shortQf, 1) &&
                        EngineMedia::MakeAvi(s_avi, 10) && QFile::copy(s_avi, s_upperAvi);
    }
    static void TearDownTestSuite() { s_folder.reset(); }

    void SetUp() override {
        FrameWorkTest::SetUp();
        ASSERT_TRUE(s_bMediaReady) << "test media could not be made";
    }

    // Opens `path` in window `i` and waits for its first picture.
    void OpenAndShow(int i, const QString& path) {
        m_frameWork.m_nCurIndex = i;
        ASSERT_EQ(m_frameWork.OpenFile(path), 1) << path.toStdString();
        ASSERT_TRUE(m_windows[i].WaitForMoreThan(0)) << "no picture in window " << i;
    }

    static inline std::unique_ptr<Brelso::Testing::TempDir> s_folder;
    static inline QString s_qf, s_shortQf, s_avi, s_upperAvi;
    static inline bool s_bMediaReady = false;
};

TEST_F(FrameWorkFileTest, RecordingPlaysIntoItsOwnWindowOnly) {
    OpenAndShow(2, s_qf);
    const PlayWndInfo& info = Info(2);
    EXPECT_EQ(info.nPlayType, kPlayFile);
    EXPECT_EQ(info.nFileType, kFileRecording);
    EXPECT_GE(info.nPort, 0);
    EXPECT_EQ(info.lLoginHandle, -1);
    EXPECT_EQ(info.lRealHandle, -1);
    EXPECT_EQ(m_windows[2].LastWidth(), 160);
    EXPECT_EQ(m_windows[2].LastHeight(), 120);
    EXPECT_EQ(m_windows[0].Presented(), 0);
    EXPECT_EQ(m_windows[1].Presented(), 0);
    EXPECT_EQ(m_windows[3].Presented(), 0);
    // A ten-second recording.
    EXPECT_GE(m_frameWork.GetFileLength(), 9);
    EXPECT_LE(m_frameWork.GetFileLength(), 10);
    EXPECT_EQ(m_frameWork.GetFileLength(), static_cast<int>(info.llEndTime - info.llStartTime));
    EXPECT_EQ(m_frameWork.GetStreamLength(), 0);
    EXPECT_EQ(m_frameWork.GetStreamPlayTime(), 0);
    EXPECT_EQ(m_frameWork.SetStreamPlayTime(1), 0);
}

TEST_F(FrameWorkFileTest, LowerCaseAviIsOpenedAsAvi) {
    OpenAndShow(1, s_avi);
    EXPECT_EQ(Info(1).nFileType, kFileAvi);
    EXPECT_GE(m_frameWork.GetFileLength(), 9);
    EXPECT_LE(m_frameWork.GetFileLength(), 10);
    EXPECT_EQ(m_windows[0].Presented(), 0);
}

TEST_F(FrameWorkFileTest, UpperCaseAviIsOpenedAsARecordingFile) {
    OpenAndShow(3, s_upperAvi);
    EXPECT_EQ(Info(3).nPlayType, kPlayFile);
    EXPECT_EQ(Info(3).nFileType, kFileRecording);
    EXPECT_EQ(m_windows[0].Presented(), 0);
}

TEST_F(FrameWorkFileTest, EndOfAFileMarksExactlyItsWindow) {
    OpenAndShow(1, s_qf);
    OpenAndShow(0, s_shortQf);
    ASSERT_TRUE(WaitUntil([&] { return Info(0).bPlayEnd != 0; }));
    EXPECT_EQ(Info(1).bPlayEnd, 0);
    EXPECT_EQ(Info(2).bPlayEnd, 0);
    EXPECT_EQ(Info(3).bPlayEnd, 0);
    EXPECT_EQ(Info(0).nPlayType, kPlayFile) << "the end alone closes nothing";
    EXPECT_EQ(m_frameWork.ClosePlay(0), 1);
    ExpectIdle(0);
    // The other window plays on.
    const int64_t nShown = m_windows[1].Presented();
    EXPECT_TRUE(m_windows[1].WaitForMoreThan(nShown));
}

TEST_F(FrameWorkFileTest, PauseHoldsThePictureAndResumeGoesOn) {
    OpenAndShow(0, s_qf);
    EXPECT_EQ(m_frameWork.Pause(), 1);
    EXPECT_EQ(Info(0).bPause, 1);
    // A picture under way when the pause came may still arrive; then nothing more.
    ASSERT_TRUE(WaitUntil([&] {
        const int64_t nShown = m_windows[0].Presented();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return m_windows[0].Presented() == nShown;
    })) << "pictures go on while paused";
    const int64_t nPaused = m_windows[0].Presented();
    const int nTime = m_frameWork.GetFilePlayTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(m_windows[0].Presented(), nPaused);
    EXPECT_EQ(m_frameWork.GetFilePlayTime(), nTime);
    EXPECT_EQ(m_frameWork.Pause(), 1);
    EXPECT_EQ(Info(0).bPause, 0);
    EXPECT_TRUE(m_windows[0].WaitForMoreThan(nPaused));
}

TEST_F(FrameWorkFileTest, SeekRefusesPositionsOutsideTheFile) {
    OpenAndShow(0, s_qf);
    const int nLength = m_frameWork.GetFileLength();
    ASSERT_GT(nLength, 0);
    EXPECT_EQ(m_frameWork.SetFilePlayTime(0), 0);
    EXPECT_EQ(m_frameWork.SetFilePlayTime(-3), 0);
    EXPECT_EQ(m_frameWork.SetFilePlayTime(nLength + 1), 0);
}

TEST_F(FrameWorkFileTest, SeekNearTheEndSkipsTheRest) {
    OpenAndShow(0, s_qf);
    ASSERT_EQ(m_frameWork.SetFilePlayTime(8), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_frameWork.GetFilePlayTime() >= 8; }));
    ASSERT_TRUE(WaitUntil([&] { return Info(0).bPlayEnd != 0; }));
    // 250 pictures from the start; from second 8 about 50.
    EXPECT_LT(m_windows[0].Presented(), 150);
}

TEST_F(FrameWorkFileTest, SpeedIsSetOnTheWindowsPort) {
    OpenAndShow(0, s_shortQf);
    const int32_t nPort = Info(0).nPort;
    ASSERT_GE(KX_PLAY_SetSpeed(nPort, 3), 0);
    int32_t nLevel = 0;
    ASSERT_GE(KX_PLAY_GetSpeed(nPort, &nLevel), 0);
    EXPECT_EQ(nLevel, 3);
    ASSERT_GE(KX_PLAY_SetSpeed(nPort, -3), 0);
    ASSERT_GE(KX_PLAY_GetSpeed(nPort, &nLevel), 0);
    EXPECT_EQ(nLevel, -3);
    ASSERT_GE(KX_PLAY_SetSpeed(nPort, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return Info(0).bPlayEnd != 0; }));
}

TEST_F(FrameWorkFileTest, SoundAndVolume) {
    OpenAndShow(0, s_avi);
    PlayWndInfo& info = Info(0);
    EXPECT_EQ(info.bSound, 0);
    EXPECT_EQ(m_frameWork.SetVolume(40), 1);  // sound off: nothing happens
    EXPECT_EQ(info.nVolume, 0);
    EXPECT_EQ(m_frameWork.Sound(), 1);
    EXPECT_EQ(info.bSound, 1);
    EXPECT_EQ(info.nVolume, 100);
    EXPECT_EQ(m_frameWork.SetVolume(40), 1);
    EXPECT_EQ(info.nVolume, 40);
    EXPECT_EQ(m_frameWork.SetVolume(250), 1);
    EXPECT_EQ(info.nVolume, 100);
    EXPECT_EQ(m_frameWork.SetVolume(-7), 1);
    EXPECT_EQ(info.nVolume, 0);
    EXPECT_EQ(info.bSound, 0) << "volume 0 turns the sound flag off";
    EXPECT_EQ(m_frameWork.SetVolume(60), 1);
    EXPECT_EQ(info.nVolume, 0);
    EXPECT_EQ(m_frameWork.Sound(), 1);  // on again: always at 100
    EXPECT_EQ(info.bSound, 1);
    EXPECT_EQ(info.nVolume, 100);
    EXPECT_EQ(m_frameWork.Sound(), 1);
    EXPECT_EQ(info.bSound, 0);
    EXPECT_EQ(info.nVolume, 0);
}

TEST_F(FrameWorkFileTest, RotationIsClampedAndKept) {
    OpenAndShow(0, s_qf);
    EXPECT_EQ(m_frameWork.SetRotate(1), 1);
    EXPECT_EQ(m_frameWork.GetRotate(), 1);
    EXPECT_EQ(m_frameWork.SetRotate(9), 1);
    EXPECT_EQ(m_frameWork.GetRotate(), 3);
    EXPECT_EQ(m_frameWork.SetRotate(-4), 1);
    EXPECT_EQ(m_frameWork.GetRotate(), 0);
    m_frameWork.m_nCurIndex = 1;  // nothing open there
    EXPECT_EQ(m_frameWork.GetRotate(), 0);
    EXPECT_EQ(m_frameWork.GetNoFill(), 0);
}

TEST_F(FrameWorkFileTest, QuarterTurnReachesThePicture) {
    OpenAndShow(0, s_qf);
    // Keep the picture's shape, as the control panel does when fill is unticked.
    ASSERT_NE(KX_PLAY_SetFillMode(Info(0).nPort, 1), 0);
    Info(0).bNoFill = 1;
    EXPECT_EQ(m_frameWork.GetNoFill(), 1);
    // Upright, a 4:3 picture covers the 4:3 window; turned by a quarter it stands upright
    // between black bars.
    ASSERT_TRUE(WaitUntil([&] { return m_windows[0].LastLeftEdge() > 0; }));
    ASSERT_EQ(m_frameWork.SetRotate(1), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_windows[0].LastLeftEdge() == 0; }));
    ASSERT_EQ(m_frameWork.SetRotate(2), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_windows[0].LastLeftEdge() > 0; }));
    EXPECT_EQ(m_frameWork.GetRotate(), 2);
}

TEST_F(FrameWorkFileTest, RecordingIsOnlyForStreams) {
    OpenAndShow(0, s_qf);
    QString strPath = QStringLiteral("stale");
    EXPECT_EQ(m_frameWork.Record(strPath), 0);
    EXPECT_TRUE(strPath.isEmpty());
    EXPECT_EQ(Info(0).bRecord, 0);
}

TEST_F(FrameWorkFileTest, SnapshotWritesAJpegNamedByLocalTime) {
    OpenAndShow(0, s_qf);
    const QDateTime before = QDateTime::currentDateTime();
    QString strPath;
    ASSERT_EQ(m_frameWork.Snapshot(strPath), 1);
    const QDateTime after = QDateTime::currentDateTime();
    const QFileInfo file(strPath);
    EXPECT_EQ(file.absolutePath(), Desktop());
    const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d-\\d\\d-\\d\\d-\\d\\d\\.jpg$"));
    EXPECT_TRUE(pattern.match(file.fileName()).hasMatch()) << strPath.toStdString();
    const QDateTime stamp =
        QDateTime::fromString(file.completeBaseName(), QStringLiteral("yyyy-MM-dd-HH-mm-ss"));
    ASSERT_TRUE(stamp.isValid());
    // Named after the second in which it was taken.
    EXPECT_LE(stamp, after);
    EXPECT_GT(stamp.addSecs(1), before);
    EXPECT_TRUE(EngineMedia::IsJpeg(strPath));
    EXPECT_TRUE(QFile::remove(strPath));
}

TEST_F(FrameWorkFileTest, SnapshotInTheSameSecondDoesNotOverwrite) {
    OpenAndShow(0, s_qf);
    // Occupy the names of this second and of the next few, as an earlier snapshot would.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList occupied;
    for (int s = 0; s < 5; ++s) {
        const QString name = Desktop() + QLatin1Char('/') +
                             MediaFileNames::TimeStampName(now.addSecs(s)) + QStringLiteral(".jpg");
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier");
        occupied << name;
    }
    QString strPath;
    ASSERT_EQ(m_frameWork.Snapshot(strPath), 1);
    EXPECT_TRUE(strPath.endsWith(QStringLiteral("-1.jpg"))) << strPath.toStdString();
    EXPECT_TRUE(occupied.contains(strPath.chopped(6) + QStringLiteral(".jpg")));
    EXPECT_TRUE(EngineMedia::IsJpeg(strPath));
    for (const QString& name : occupied) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray("earlier")) << "an earlier file was overwritten";
        file.close();
        QFile::remove(name);
    }
    QFile::remove(strPath);
}

}  // namespace
