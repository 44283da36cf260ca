// The play controller's records, its operations on idle windows, its callbacks and the opens
// that fail before anything plays.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FrameWorkFixture.h"
#include "KXPlaySdk.h"
#include "KXRtspSdk.h"

namespace {

// Takes a login handle from the stream library and gives it back: handles are issued in
// order, so two of these calls show how many logins were issued between them.
int32_t IssueLoginHandle() {
    const int32_t lHandle = KX_NET_Login("127.0.0.1", 554, "", "");
    EXPECT_GE(lHandle, 1000);
    EXPECT_EQ(KX_NET_Logout(lHandle), 1);
    return lHandle;
}

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t nSize = sizeof(address);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nSize), 0);
    close(fd);
    return ntohs(address.sin_port);
}

TEST_F(FrameWorkTest, StartsIdleAtWindowZero) {
    EXPECT_EQ(m_frameWork.m_nCurIndex, 0);
    EXPECT_TRUE(m_frameWork.m_strSnapPath.isEmpty());
    EXPECT_TRUE(m_frameWork.m_strRecordPath.isEmpty());
    for (int i = 0; i < CFrameWork::kWindowCount; ++i) ExpectIdle(i);
}

TEST(FrameWorkInstance, OneStaticControllerForTheProgram) {
    CFrameWork& frameWork = GetFrameWork();
    EXPECT_EQ(&frameWork, &GetFrameWork());
    EXPECT_EQ(frameWork.m_nCurIndex, 0);
    for (const PlayWndInfo& info : frameWork.m_stPlayInfo) EXPECT_EQ(info.nPlayType, -1);
}

TEST_F(FrameWorkTest, ClosePlayRefusesIndicesOutsideTheWindows) {
    EXPECT_EQ(m_frameWork.ClosePlay(-1), 0);
    EXPECT_EQ(m_frameWork.ClosePlay(4), 0);
    EXPECT_EQ(m_frameWork.ClosePlay(0), 1);
}

TEST_F(FrameWorkTest, ResetKeepsTheWindowAndIgnoresBadIndices) {
    PlayWndInfo& info = Info(2);
    info.nRotate = 3;
    info.bNoFill = 1;
    info.bPlayEnd = 1;
    info.llEndTime = 99;
    m_frameWork.ResetPlayInfo(5);
    m_frameWork.ResetPlayInfo(-1);
    EXPECT_EQ(info.nRotate, 3);
    m_frameWork.ResetPlayInfo(2);
    ExpectIdle(2);
}

TEST_F(FrameWorkTest, OperationsOnAnIdleWindow) {
    m_frameWork.m_nCurIndex = 1;
    QString strPath = QStringLiteral("stale");
    EXPECT_EQ(m_frameWork.Pause(), 1);
    EXPECT_EQ(m_frameWork.Sound(), 1);
    EXPECT_EQ(m_frameWork.SetVolume(50), 1);
    EXPECT_EQ(m_frameWork.Snapshot(strPath), 0);
    EXPECT_TRUE(strPath.isEmpty());
    strPath = QStringLiteral("stale");
    EXPECT_EQ(m_frameWork.Record(strPath), 0);
    EXPECT_TRUE(strPath.isEmpty());
    EXPECT_EQ(m_frameWork.SetRotate(1), 0);
    EXPECT_EQ(m_frameWork.GetRotate(), 0);
    EXPECT_EQ(m_frameWork.GetNoFill(), 0);
    EXPECT_EQ(m_frameWork.GetFileLength(), 0);
    EXPECT_EQ(m_frameWork.GetFilePlayTime(), 0);
    EXPECT_EQ(m_frameWork.SetFilePlayTime(1), 0);
    EXPECT_EQ(m_frameWork.GetStreamLength(), 0);
    EXPECT_EQ(m_frameWork.GetStreamPlayTime(), 0);
    EXPECT_EQ(m_frameWork.SetStreamPlayTime(0), 0);
    ExpectIdle(1);
}

TEST_F(FrameWorkTest, CurrentIndexOutsideTheWindowsTouchesNothing) {
    m_frameWork.m_nCurIndex = 7;
    QString strPath;
    EXPECT_EQ(m_frameWork.OpenStream(QStringLiteral("rtsp://127.0.0.1/x"), 0), 0);
    EXPECT_EQ(m_frameWork.OpenFile(QStringLiteral("/tmp/x.qf")), 0);
    EXPECT_EQ(m_frameWork.Pause(), 0);
    EXPECT_EQ(m_frameWork.Sound(), 0);
    EXPECT_EQ(m_frameWork.Snapshot(strPath), 0);
    EXPECT_EQ(m_frameWork.GetFileLength(), 0);
    m_frameWork.m_nCurIndex = -1;
    EXPECT_EQ(m_frameWork.SetRotate(1), 0);
    EXPECT_EQ(m_frameWork.GetRotate(), 0);
}

TEST_F(FrameWorkTest, StreamEndMarksOnlyTheStreamWithThatHandle) {
    Info(0).nPlayType = kPlayStream;
    Info(0).lRealHandle = 1000007;
    Info(1).nPlayType = kPlayStream;
    Info(1).lRealHandle = 1000008;
    Info(2).nPlayType = kPlayFile;  // a file whose port number equals the handle
    Info(2).nPort = 1000007;
    CFrameWork::OnRealPlayEnd(1000007, nullptr);
    CFrameWork::OnRealPlayEnd(1000009, &m_frameWork);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Info(i).bPlayEnd, 0) << i;
    CFrameWork::OnRealPlayEnd(1000007, &m_frameWork);
    EXPECT_EQ(Info(0).bPlayEnd, 1);
    EXPECT_EQ(Info(1).bPlayEnd, 0);
    EXPECT_EQ(Info(2).bPlayEnd, 0);
    EXPECT_EQ(Info(3).bPlayEnd, 0);
    for (int i = 0; i < 4; ++i) m_frameWork.ResetPlayInfo(i);
}

TEST_F(FrameWorkTest, FileEndMarksOnlyTheFileOnThatPort) {
    Info(0).nPlayType = kPlayFile;
    Info(0).nPort = 3;
    Info(1).nPlayType = kPlayStream;  // a stream decoded on a port of the same number
    Info(1).nPort = 3;
    Info(3).nPlayType = kPlayFile;
    Info(3).nPort = 4;
    CFrameWork::OnFilePlayEnd(3, nullptr);
    CFrameWork::OnFilePlayEnd(5, &m_frameWork);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Info(i).bPlayEnd, 0) << i;
    CFrameWork::OnFilePlayEnd(3, &m_frameWork);
    EXPECT_EQ(Info(0).bPlayEnd, 1);
    EXPECT_EQ(Info(1).bPlayEnd, 0);
    EXPECT_EQ(Info(2).bPlayEnd, 0);
    EXPECT_EQ(Info(3).bPlayEnd, 0);
    for (int i = 0; i < 4; ++i) m_frameWork.ResetPlayInfo(i);
}

// Addresses that are refused before either library is asked: no login is issued.
class RefusedOpenTest : public FrameWorkTest, public ::testing::WithParamInterface<QString> {};

TEST_P(RefusedOpenTest, CallsNoLibraryAndLeavesTheWindowIdle) {
    m_frameWork.m_nCurIndex = 2;
    const int32_t lBefore = IssueLoginHandle();
    EXPECT_EQ(m_frameWork.OpenStream(GetParam(), 0), 0);
    ExpectIdle(2);
    EXPECT_EQ(m_windows[2].Presented(), 0);
    EXPECT_EQ(IssueLoginHandle(), lBefore + 1) << "a login was issued";
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, RefusedOpenTest,
    ::testing::Values(QString(), QStringLiteral("rtsp://127.0.0.1:554"),
                      QStringLiteral("rtsp://127.0.0.1"), QStringLiteral(" rtsp://127.0.0.1/live"),
                      QStringLiteral("RTSP://127.0.0.1/live"),
                      QStringLiteral("rtsp://127.0.0.1:65536/live"),
                      QStringLiteral("rtsp://admin:pw@127.0.0.1:70000/live"),
                      QStringLiteral("rtsp://127.0.0.1/") + QString(250, QLatin1Char('x')),
                      QStringLiteral("rtsp://127.0.0.1/") + QString(80, QChar(0x89C6))));

// Addresses that split but whose parts the stream library refuses: the login is refused (no
// handle issued) or the play is, and everything taken so far is given back.
TEST_F(FrameWorkTest, HostLongerThanALoginHoldsIsRefused) {
    const int32_t lBefore = IssueLoginHandle();
    EXPECT_EQ(m_frameWork.OpenStream(QStringLiteral("rtsp://a-host-name-too-long.example/x"), 0),
              0);
    ExpectIdle(0);
    EXPECT_EQ(IssueLoginHandle(), lBefore + 1) << "a login was issued";
}

TEST_F(FrameWorkTest, UserNameLongerThanALoginHoldsIsRefused) {
    const int32_t lBefore = IssueLoginHandle();
    const QString strUser(50, QLatin1Char('u'));
    EXPECT_EQ(m_frameWork.OpenStream(
                  QStringLiteral("rtsp://") + strUser + QStringLiteral(":pw@127.0.0.1/x"), 0),
              0);
    ExpectIdle(0);
    EXPECT_EQ(IssueLoginHandle(), lBefore + 1) << "a login was issued";
}

TEST_F(FrameWorkTest, PathTooLongForTheStreamAddressReleasesTheLogin) {
    // 254 characters as typed; with the default port added the stream address would need 258.
    const QString strAddress = QStringLiteral("rtsp://127.0.0.1/") + QString(237, QLatin1Char('p'));
    ASSERT_EQ(strAddress.size(), 254);
    const int32_t lLogin = IssueLoginHandle() + 1;
    EXPECT_EQ(m_frameWork.OpenStream(strAddress, 0), 0);
    ExpectIdle(0);
    EXPECT_EQ(IssueLoginHandle(), lLogin + 1) << "the open took one login";
    EXPECT_EQ(KX_NET_Logout(lLogin), 0) << "the login of the failed open is still stored";
}

TEST_F(FrameWorkTest, ServerThatIsNotThereFailsTheOpenAndReleasesEverything) {
    m_frameWork.m_nCurIndex = 3;
    const int32_t lLogin = IssueLoginHandle() + 1;
    const QString strAddress =
        QStringLiteral("rtsp://127.0.0.1:%1/live").arg(static_cast<int>(ClosedPort()));
    EXPECT_EQ(m_frameWork.OpenStream(strAddress, 1), 0);
    ExpectIdle(3);
    EXPECT_EQ(IssueLoginHandle(), lLogin + 1) << "the open took one login";
    EXPECT_EQ(KX_NET_Logout(lLogin), 0) << "the login of the failed open is still stored";
}

TEST_F(FrameWorkTest, MissingFileFailsTheOpen) {
    m_frameWork.m_nCurIndex = 1;
    EXPECT_EQ(m_frameWork.OpenFile(QString()), 0);
    EXPECT_EQ(m_frameWork.OpenFile(QDir::tempPath() + QStringLiteral("/no-such-file.qf")), 0);
    ExpectIdle(1);
    EXPECT_EQ(m_frameWork.OpenFile(QDir::tempPath() + QStringLiteral("/no-such-file.avi")), 0);
    ExpectIdle(1);
    EXPECT_EQ(m_frameWork.OpenFile(QStringLiteral("/") + QString(300, QLatin1Char('f'))), 0);
    ExpectIdle(1);
}

}  // namespace
