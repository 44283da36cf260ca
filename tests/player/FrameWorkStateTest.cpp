// The play controller's records, its operations on idle windows, its callbacks and the opens
// that fail before anything plays.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>

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

// An end callback marks exactly the window whose play it names: by play handle for a stream,
// by port for a file. Windows that are not set stay idle.
struct EndWindow {
    PlayType type = kPlayNone;
    std::optional<int32_t> handle;  // lRealHandle
    std::optional<int32_t> port;    // nPort
};

struct EndCase {
    const char* name;
    void (*onEnd)(int32_t, void*);
    std::array<EndWindow, 4> windows;
    int32_t unknown;  // names no window of the callback's kind
    int32_t named;    // names the one window that ends
    int ended;        // that window
};

class EndCallbackTest : public FrameWorkTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndCallbackTest, MarksOnlyTheWindowItNames) {
    const EndCase& c = GetParam();
    for (int i = 0; i < 4; ++i) {
        const EndWindow& window = c.windows[static_cast<size_t>(i)];
        if (window.type == kPlayNone) continue;
        Info(i).nPlayType = window.type;
        if (window.handle) Info(i).lRealHandle = *window.handle;
        if (window.port) Info(i).nPort = *window.port;
    }
    c.onEnd(c.named, nullptr);
    c.onEnd(c.unknown, &m_frameWork);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Info(i).bPlayEnd, 0) << i;
    c.onEnd(c.named, &m_frameWork);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Info(i).bPlayEnd, i == c.ended ? 1 : 0) << i;
    for (int i = 0; i < 4; ++i) m_frameWork.ResetPlayInfo(i);
}

INSTANTIATE_TEST_SUITE_P(
    FrameWorkTest, EndCallbackTest,
    ::testing::Values(
        // The file's port number equals the stream's handle.
        EndCase{"StreamEndMarksOnlyTheStreamWithThatHandle",
                &CFrameWork::OnRealPlayEnd,
                {EndWindow{kPlayStream, 1000007, {}}, EndWindow{kPlayStream, 1000008, {}},
                 EndWindow{kPlayFile, {}, 1000007}, EndWindow{}},
                1000009,
                1000007,
                0},
        // A stream decoded on a port of the same number as the file's.
        EndCase{"FileEndMarksOnlyTheFileOnThatPort",
                &CFrameWork::OnFilePlayEnd,
                {EndWindow{kPlayFile, {}, 3}, EndWindow{kPlayStream, {}, 3}, EndWindow{},
                 EndWindow{kPlayFile, {}, 4}},
                5,
                3,
                0}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

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

// Opens that fail after the login was stored: the window stays idle and the open's login is
// released again.
struct ReleasedLoginCase {
    const char* name;
    int index;             // the current window
    QString (*address)();  // as typed
    int typedLength;       // of the address, checked when not -1
    int tcp;
};

class ReleasedLoginTest : public FrameWorkTest,
                          public ::testing::WithParamInterface<ReleasedLoginCase> {};

TEST_P(ReleasedLoginTest, LeavesTheWindowIdle) {
    const ReleasedLoginCase& c = GetParam();
    m_frameWork.m_nCurIndex = c.index;
    const QString strAddress = c.address();
    if (c.typedLength != -1) {
        ASSERT_EQ(strAddress.size(), c.typedLength);
    }
    const int32_t lLogin = IssueLoginHandle() + 1;
    EXPECT_EQ(m_frameWork.OpenStream(strAddress, c.tcp), 0);
    ExpectIdle(c.index);
    EXPECT_EQ(IssueLoginHandle(), lLogin + 1) << "the open took one login";
    EXPECT_EQ(KX_NET_Logout(lLogin), 0) << "the login of the failed open is still stored";
}

INSTANTIATE_TEST_SUITE_P(
    FrameWorkTest, ReleasedLoginTest,
    ::testing::Values(
        // With the default port added the stream address would need 258 characters.
        ReleasedLoginCase{
            "PathTooLongForTheStreamAddressReleasesTheLogin", 0,
            [] { return QStringLiteral("rtsp://127.0.0.1/") + QString(237, QLatin1Char('p')); },
            254, 0},
        ReleasedLoginCase{"ServerThatIsNotThereFailsTheOpenAndReleasesEverything", 3,
                          [] {
                              return QStringLiteral("rtsp://127.0.0.1:%1/live")
                                  .arg(static_cast<int>(ClosedPort()));
                          },
                          -1, 1}),
    [](const ::testing::TestParamInfo<ReleasedLoginCase>& info) {
        return std::string(info.param.name);
    });

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
