// CLiveClient against a scripted RTSP server: how a session starts, stops, reconnects, seeks
// and ends. Waits are for events with generous limits, never for a duration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CLiveClient.h"
#include "CLog.h"
#include "H264Stream.h"
#include "KXPackagedFrame.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "SilentRtspListener.h"
#include "WaitForState.h"

namespace kx::sdk {
namespace {

using namespace std::chrono_literals;
using Brelso::Testing::Bytes;
using Brelso::Testing::ScriptedRtspServer;

const Bytes kSps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8};
const Bytes kPps = {0x68, 0xCB, 0x83, 0xCB, 0x20};

std::vector<Bytes> gop() {
    Bytes idr(2000, 0x65);
    idr[1] = 0x88;  // the first slice of its picture
    std::vector<Bytes> nals = {kSps, kPps, idr};
    for (int i = 0; i < 9; ++i) nals.push_back(Bytes(300 + i, 0x41));
    return nals;
}

// Counts frames and end callbacks of one session.
struct Observer {
    std::mutex mutex;
    std::condition_variable changed;
    int frames = 0;
    int keyFrames = 0;
    int ends = 0;
    int32_t endHandle = 0;

    static void onData(int32_t, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Observer*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->frames;
        if (type == KX_DATA_H264 && size >= 12 && buffer[10] == KX_FRAME_IDR) ++self->keyFrames;
        self->changed.notify_all();
    }
    static void onEnd(int32_t handle, void* user) {
        auto* self = static_cast<Observer*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->ends;
        self->endHandle = handle;
        self->changed.notify_all();
    }
    template <class Pred>
    bool waitFor(Pred pred, std::chrono::seconds limit = 60s) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return pred(*this); });
    }
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        // KX_TEST_LOG=<folder>: write the session's log there (for diagnosing a failure).
        if (const char* folder = std::getenv("KX_TEST_LOG")) {
            auto* log = Brelso::Public::CLog::GetInstance();
            log->SetPathPrefix((std::string(folder) + "/NetSdk").c_str());
            log->SetLevelMask(0xFF);
        }
        ASSERT_TRUE(server.start());
        server.setSdp(Brelso::Testing::sdpSession(
            {Brelso::Testing::sdpH264(0, Brelso::Testing::spropParameterSets(gop()))}));
        server.setTrackPlan(0, Brelso::Testing::h264Plan(gop(), 25, true));
        client.SetRealHandle(1000123);
        client.SetRealDataCallBack(&Observer::onData, &observer);
        client.SetPlayEndCallBack(&Observer::onEnd, &observer);
    }
    void TearDown() override { server.stop(); }

    std::string url() const { return server.url("/stream"); }

    // The server describes a recorded stream of that many seconds and plays its whole range.
    void describeRecorded(int seconds) {
        const std::string end = std::to_string(seconds);
        server.setSdp(Brelso::Testing::sdpSession(
            {Brelso::Testing::sdpH264(0, Brelso::Testing::spropParameterSets(gop()))},
            "a=range:npt=0-" + end + "\r\n"));
        server.setPlayRange("npt=0.000-" + end + ".000");
    }

    ScriptedRtspServer server;
    Observer observer;
    CLiveClient client{1000};
};

TEST_F(SessionTest, PlaysAndStops) {
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    EXPECT_EQ(client.GetVideoLength(), 0);  // "t=0 0": live
    ASSERT_TRUE(observer.waitFor([](Observer& o) { return o.keyFrames >= 2; }));
    EXPECT_EQ(client.RealPlay(url().c_str(), 0, 0), 1);  // already started: untouched
    EXPECT_TRUE(client.Stop());
    EXPECT_EQ(client.GetState(), CLiveClient::Stopped);
    EXPECT_FALSE(client.Stop());
    EXPECT_TRUE(server.waitForRequests("TEARDOWN", 1, 10000ms));
}

TEST_F(SessionTest, ErrorReplyFailsTheStart) {
    server.setStatus("DESCRIBE", 404);
    EXPECT_EQ(client.RealPlay(url().c_str(), 0, 0), 1);
    EXPECT_EQ(client.GetState(), CLiveClient::Stopped);
    EXPECT_EQ(server.count("SETUP"), 0u);
}

// Writes the library's log into a fresh folder while it exists.
class LogCapture {
public:
    LogCapture() {
        m_dir = std::filesystem::temp_directory_path() /
                ("kx_sdk_session_log_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        auto* log = Brelso::Public::CLog::GetInstance();
        log->SetPathPrefix((m_dir.string() + "/NetSdk").c_str());
        log->SetLevelMask(0xFF);
    }
    ~LogCapture() {
        Brelso::Public::CLog::GetInstance()->SetLevelMask(0);
        std::filesystem::remove_all(m_dir);
    }
    std::string text() const {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return all;
    }

private:
    std::filesystem::path m_dir;
};

TEST(SilentServerTest, StopEndsASilentSessionAtOnce) {
    LogCapture log;
    testing::SilentRtspListener server;
    ASSERT_TRUE(server.ok());
    CLiveClient client(1000);
    // No answer within the start wait counts as started.
    ASSERT_EQ(client.RealPlay(server.url("/stream").c_str(), 0, 0), 0);
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    // Let the loop fall idle: nothing is due before the disconnect check 15 s from now.
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(client.Stop());
    // Had the stop waited for the next scheduled task (the disconnect check), that task would
    // have reconnected first: a second connection and OPTIONS.
    EXPECT_EQ(server.count("OPTIONS"), 1u);
    EXPECT_EQ(server.connections(), 1u);
    const std::string text = log.text();
    EXPECT_NE(text.find("[CLiveClient::RealPlay] Open rtsp url:"), std::string::npos) << text;
    EXPECT_EQ(text.find("Disconnect!"), std::string::npos) << text;
}

TEST(SilentServerTest, FirstConnectionUnansweredPastTheStartWaitIsReconnected) {
    testing::SilentRtspListener server;
    ASSERT_TRUE(server.ok());
    CLiveClient client(1000);
    ASSERT_EQ(client.RealPlay(server.url("/stream").c_str(), 0, 0), 0);
    // The disconnect check, armed when the start wait ended, reconnects: a new connection
    // with a new OPTIONS.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (server.count("OPTIONS") < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GE(server.count("OPTIONS"), 2u);
    EXPECT_GE(server.connections(), 2u);
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    EXPECT_TRUE(client.Stop());
}

TEST_F(SessionTest, LateAnswerContinuesTheStartInTheBackground) {
    server.setReplyDelay("OPTIONS", 6000);
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);  // no answer within the wait
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    EXPECT_TRUE(observer.waitFor([](Observer& o) { return o.keyFrames >= 1; }));
    EXPECT_EQ(server.count("OPTIONS"), 1u);
    EXPECT_TRUE(client.Stop());
}

TEST_F(SessionTest, FirstConnectionFailingAfterTheStartWaitIsReconnectedAndPlays) {
    // The reply (an error) comes only after the start wait has ended.
    server.setReplyDelay("OPTIONS", 6000);
    server.setStatus("OPTIONS", 503);
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    // The disconnect check, armed when the start wait ended, reconnects.
    ASSERT_TRUE(server.waitForRequests("OPTIONS", 2, 60000ms));
    server.setReplyDelay("OPTIONS", 0);
    server.setStatus("OPTIONS", 200);  // the reply to the new connection: success
    EXPECT_TRUE(observer.waitFor([](Observer& o) { return o.keyFrames >= 1; }));
    EXPECT_TRUE(client.Stop());
}

TEST_F(SessionTest, HeartbeatAtHalfTheSessionTimeout) {
    server.setSessionTimeout(2);
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    EXPECT_TRUE(server.waitForRequests("GET_PARAMETER", 2, 30000ms));
    EXPECT_TRUE(client.Stop());
}

TEST_F(SessionTest, RecordedStreamEndsWithTheEndCallback) {
    describeRecorded(2);
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    EXPECT_EQ(client.GetVideoLength(), 2000);
    ASSERT_TRUE(observer.waitFor([](Observer& o) { return o.ends >= 1; }));
    EXPECT_EQ(observer.endHandle, 1000123);
    EXPECT_TRUE(server.waitForRequests("TEARDOWN", 1, 10000ms));
    EXPECT_TRUE(testing::waitForState(client, CLiveClient::Stopped));
    EXPECT_FALSE(client.Stop());  // it stopped itself
    EXPECT_EQ(client.GetVideoLength(), 2000);
}

TEST_F(SessionTest, UnknownLengthPlaysWithoutEnd) {
    server.setSdp("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=x\r\n" +
                  Brelso::Testing::sdpH264(0, Brelso::Testing::spropParameterSets(gop())));
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    EXPECT_EQ(client.GetVideoLength(), -3);
    ASSERT_TRUE(observer.waitFor([](Observer& o) { return o.keyFrames >= 2; }));
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    EXPECT_EQ(observer.ends, 0);
    EXPECT_TRUE(client.Stop());
}

// Records every delivered buffer of one data type.
struct Payloads {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t dataType = 0;
    std::vector<Bytes> received;

    static void onData(int32_t, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Payloads*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (type != self->dataType) return;
        self->received.emplace_back(buffer, buffer + size);
        self->changed.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 60s, [&] { return received.size() >= n; });
    }
};

TEST_F(SessionTest, UnsupportedSubsessionIsSetUpButNotRead) {
    server.setSdp(Brelso::Testing::sdpSession(
        {Brelso::Testing::sdpH264(0, Brelso::Testing::spropParameterSets(gop())),
         Brelso::Testing::sdpMedia(1, "audio", 97, "OPUS/48000/2")}));
    ASSERT_EQ(client.RealPlay(url().c_str(), 1, 0), 0);
    EXPECT_EQ(server.count("SETUP"), 2u);
    EXPECT_EQ(server.count("PLAY"), 1u);
    EXPECT_TRUE(observer.waitFor([](Observer& o) { return o.keyFrames >= 1; }));
    EXPECT_TRUE(client.Stop());
}

TEST_F(SessionTest, NoSupportedSubsessionFailsWithoutPlay) {
    server.setSdp(
        Brelso::Testing::sdpSession({Brelso::Testing::sdpMedia(0, "video", 96, "VP8/90000"),
                                     Brelso::Testing::sdpMedia(1, "audio", 97, "OPUS/48000/2")}));
    EXPECT_EQ(client.RealPlay(url().c_str(), 1, 0), 1);
    EXPECT_EQ(server.count("SETUP"), 2u);
    EXPECT_EQ(server.count("PLAY"), 0u);
    EXPECT_EQ(client.GetState(), CLiveClient::Stopped);
}

TEST_F(SessionTest, PrivatePayloadArrivesUnchanged) {
    const std::vector<Bytes> payloads = {{'Q', 'S', 0, 1, 2, 3}, Bytes(900, 0x5C), {0xFF}};
    server.setSdp(
        Brelso::Testing::sdpSession({Brelso::Testing::sdpMedia(0, "video", 98, "PRIVATE/90000")}));
    server.setTrackPlan(0, Brelso::Testing::singlePacketPlan(98, payloads, 20, 1800, false));
    Payloads got;
    got.dataType = KX_DATA_PRIVATE;
    client.SetRealDataCallBack(&Payloads::onData, &got);
    ASSERT_EQ(client.RealPlay(url().c_str(), 1, 0), 0);
    ASSERT_TRUE(got.waitFor(payloads.size()));
    std::lock_guard<std::mutex> lock(got.mutex);
    EXPECT_EQ(got.received, payloads);
    client.SetRealDataCallBack(nullptr, nullptr);
}

TEST_F(SessionTest, G7221PayloadIsPackagedAsAudio) {
    const Bytes frame(80, 0x3C);
    server.setSdp(Brelso::Testing::sdpSession(
        {Brelso::Testing::sdpMedia(0, "audio", 99, "G7221/16000", "bitrate=32000")}));
    server.setTrackPlan(0, Brelso::Testing::singlePacketPlan(99, {frame}, 20, 320, true));
    Payloads got;
    got.dataType = KX_DATA_G7221;
    client.SetRealDataCallBack(&Payloads::onData, &got);
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    ASSERT_TRUE(got.waitFor(3));
    client.SetRealDataCallBack(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(got.mutex);
    const Bytes& inner = got.received[0];
    ASSERT_EQ(inner.size(), frame.size() + 20);
    EXPECT_EQ(inner[8], KX_DATA_G7221);
    EXPECT_EQ(inner[12], 1);                         // channels
    EXPECT_EQ(inner[16] | (inner[17] << 8), 16000);  // sample rate
    EXPECT_EQ(Bytes(inner.begin() + 20, inner.end()), frame);
}

TEST_F(SessionTest, RtcpByeIsOnlyLogged) {
    LogCapture log;
    ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
    ASSERT_TRUE(observer.waitFor([](Observer& o) { return o.frames >= 5; }));
    EXPECT_GE(server.sendRtcpBye(0), 1);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (log.text().find("receive rtcp bye") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("][warning][CLiveClient::SubsessionByeHandler] RealHandle:1000123, "
                        "receive rtcp bye.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("][warning][CLiveClient::SubsessionAfterPlaying] RealHandle:1000123, all "
                        "subsession' streams have now been closed, wait for disconnect check.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    EXPECT_TRUE(client.Stop());
}

class SeekTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        describeRecorded(60);
        ASSERT_EQ(client.RealPlay(url().c_str(), 0, 0), 0);
        ASSERT_EQ(client.GetVideoLength(), 60000);
    }
    std::string lastPlayRange() const {
        std::string range;
        for (const auto& r : server.requests()) {
            if (r.method == "PLAY") range = r.header("Range");
        }
        return range;
    }
};

TEST_F(SeekTest, AcceptedSeekMovesThePosition) {
    server.setPlayRange("npt=30.000-60.000");
    EXPECT_EQ(client.SeekAndPlay(30000), 1);
    EXPECT_EQ(client.GetCurrentTime(), 30000);
    EXPECT_EQ(server.count("PLAY"), 2u);
    EXPECT_NE(lastPlayRange().find("npt=30"), std::string::npos) << lastPlayRange();
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
}

TEST_F(SeekTest, OutOfRangeSendsNothing) {
    EXPECT_EQ(client.SeekAndPlay(60001), 0);
    EXPECT_EQ(client.SeekAndPlay(-1), 0);
    EXPECT_EQ(server.count("PLAY"), 1u);
}

TEST_F(SeekTest, RefusedSeekFails) {
    server.setStatus("PLAY", 454);
    EXPECT_EQ(client.SeekAndPlay(10000), 0);
    EXPECT_EQ(server.count("PLAY"), 2u);
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);
    server.setStatus("PLAY", 200);
    EXPECT_EQ(client.SeekAndPlay(20000), 1);  // the session still serves seeks
}

TEST_F(SeekTest, UnansweredSeekFails) {
    server.setSilent("PLAY", true);
    EXPECT_EQ(client.SeekAndPlay(10000), 0);
    server.setSilent("PLAY", false);
    EXPECT_EQ(client.SeekAndPlay(20000), 1);
}

TEST_F(SeekTest, OpenRangeReplyEndsTheStreamAtItsKnownLength) {
    server.setPlayRange("npt=10.000-");
    ASSERT_EQ(client.SeekAndPlay(10000), 1);
    // Had the open range armed the end at once, it would have run before this second seek
    // was even sent.
    ASSERT_EQ(client.SeekAndPlay(11000), 1);
    EXPECT_EQ(observer.ends, 0);
    EXPECT_EQ(client.GetState(), CLiveClient::Playing);

    server.setPlayRange("npt=59.000-");
    ASSERT_EQ(client.SeekAndPlay(59000), 1);  // one second left
    EXPECT_TRUE(observer.waitFor([](Observer& o) { return o.ends >= 1; }));
    EXPECT_TRUE(testing::waitForState(client, CLiveClient::Stopped));
}

}  // namespace
}  // namespace kx::sdk
